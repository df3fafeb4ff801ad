#pragma once
// Renumbers the H.264 slices the block mover passes on after a splice (see
// engine/video_splice.h): finds the start codes in the video packets of the
// data about to be written, across packet and block bounds, and changes
// frame_num and pic_order_cnt_lsb of every slice header until an IDR picture
// starts the numbering anew. A header that runs on into packets not yet read
// is completed from the source; its bytes there are changed when those
// packets are moved.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "engine/video_splice.h"

// A byte of a packet not yet moved that a renumbered header changes.
struct PendingByte {
    std::uint64_t position = 0;  // in the source
    std::uint8_t value = 0;
    bool operator==(const PendingByte&) const = default;
};

class CH264Renumberer {
  public:
    // One video packet of the data about to be written.
    struct Packet {
        std::size_t payloadFrom = 0;  // its video bytes in the buffer
        std::size_t payloadTo = 0;
        std::size_t packetAt = 0;     // where the packet (its prefix) begins in the buffer
        std::uint64_t origin = 0;     // where that packet begins in the source
    };
    // Fills up to count bytes of the video that follows the buffer, with
    // their source positions; returns how many there are.
    using LookAhead =
        std::function<std::size_t(std::uint8_t* bytes, std::uint64_t* positions, std::size_t count)>;

    CH264Renumberer(RenumberState& state, std::vector<PendingByte>& pending)
        : m_state(state), m_pending(pending) {}

    // Changes the slice headers in buffer; true when a byte changed.
    bool Process(std::uint8_t* buffer, const std::vector<Packet>& packets,
                 const LookAhead& lookAhead);
    // Slices whose numbering could not be changed (damaged headers, or new
    // bits that would need other emulation-prevention bytes).
    int Failures() const { return m_failures; }
    std::uint64_t FirstFailure() const { return m_firstFailure; }

  private:
    bool applyPending(std::uint8_t* buffer, const std::vector<Packet>& packets);
    // A NAL unit whose header byte is at buffer[at] in packets[index].
    bool onNalUnit(std::uint8_t* buffer, const std::vector<Packet>& packets, std::size_t index,
                   std::size_t at, const LookAhead& lookAhead);
    void fail(std::uint64_t position);

    RenumberState& m_state;
    std::vector<PendingByte>& m_pending;
    int m_failures = 0;
    std::uint64_t m_firstFailure = 0;
};
