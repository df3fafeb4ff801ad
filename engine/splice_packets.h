#pragma once
// Transport packets written anew at a splice of an H.264 or HEVC recording.
// The first packet of the random-access picture the data resumes with is
// repacked when parameter sets go in front of that picture: its header
// fields, adaptation field (PCR, random-access indicator) and PES header
// stay, its video bytes become the new ones, and as many packets follow as
// they need, the last one filled out with adaptation-field stuffing. The
// continuity counters of the new packets end with the old packet's, so that
// the packets after it follow on.

#include <cstddef>
#include <cstdint>
#include <vector>

class CSplicePackets {
  public:
    // 188, or 192 for packets behind a 4-byte prefix (copied to each new one).
    explicit CSplicePackets(std::size_t packetSize);

    // raw: the old packet, prefix included. videoAt: where its video bytes
    // (after the PES header) begin in raw. video: the video bytes the new
    // packets carry instead. markDiscontinuity: the PCR of the adaptation
    // field starts a new time base.
    std::vector<std::uint8_t> Repack(const std::uint8_t* raw, std::size_t videoAt,
                                     const std::vector<std::uint8_t>& video,
                                     bool markDiscontinuity) const;

    // Sets the discontinuity indicator of a transport packet (after any
    // prefix) that carries an adaptation field; false when it has none.
    static bool MarkDiscontinuity(std::uint8_t* packet);

  private:
    void put(std::vector<std::uint8_t>& out, const std::uint8_t* prefix, std::uint8_t flags,
             std::uint16_t pid, int continuity, const std::vector<std::uint8_t>& adaptation,
             const std::uint8_t* payload, std::size_t count) const;

    std::size_t m_packetSize;
    std::size_t m_syncAt;
};
