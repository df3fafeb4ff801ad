#pragma once
// Gathers the access units of an H.264 or HEVC stream from the payloads of
// its transport packets: the PES headers are taken off (their stamps noted
// by where their data begins), the elementary stream goes through the
// codec's access-unit scanner, and each access unit comes out whole, with
// its bytes, its time stamps, the file position where it began and whether
// packets of it were lost.

#include <cstdint>
#include <deque>
#include <memory>
#include <utility>
#include <vector>

#include "codec/access_unit.h"
#include "codec/picture_cutter.h"

namespace codec {

struct AssembledUnit {
    AccessUnit unit;  // as the scanner reported it (offset, kind, leading, field)
    std::vector<std::uint8_t> bytes;  // from its first start code to the next unit's
    // The stamps of the PES packet it is the first access unit of
    // (ISO/IEC 13818-1 2.4.3.7); a unit that begins no PES has none.
    bool hasPts = false;
    bool hasDts = false;
    std::uint64_t pts = 0;
    std::uint64_t dts = 0;
    // The PTS of the last PES header at or before its first byte: what the
    // picture search gives a mark set on it.
    bool hasStamp = false;
    std::uint64_t stamp = 0;
    std::uint64_t position = 0;  // file position just behind the packet of its first byte
    bool damaged = false;        // packets with bytes of it were lost
    bool cutShort = false;       // the data ended before its end could be seen
};

class AccessUnitAssembler {
  public:
    explicit AccessUnitAssembler(std::unique_ptr<IAccessUnitScanner> scanner);

    // One payload of the video PID, its PES header included where a PES
    // begins (unitStart). lost: packets of the PID were lost before it.
    void Feed(const VideoPayload& payload, bool unitStart, bool lost);
    // Packets of the stream were lost (skipped, scrambled).
    void Lose() { m_losses.push_back(m_base + m_data.size()); }
    // The data has ended: the last unit is whole when its PES packet said
    // how long it is and all of it came; else it is given cut short.
    void Finish();
    std::vector<AssembledUnit> TakeUnits() { return std::exchange(m_units, {}); }

    IAccessUnitScanner& Scanner() { return *m_scanner; }
    // PES headers that did not fit in their packet (damage).
    int BrokenHeaders() const { return m_brokenHeaders; }

    // Larger than any access unit: a stream that shows no unit boundary for
    // this long is not read as one (scrambled data).
    static constexpr std::size_t kMaxUnit = 64u << 20;

  private:
    struct PesMark {
        std::uint64_t offset = 0;  // stream offset of its first data byte
        bool hasPts = false;
        bool hasDts = false;
        std::uint64_t pts = 0;
        std::uint64_t dts = 0;
    };
    struct PacketMark {
        std::uint64_t end = 0;  // stream offset behind its bytes
        std::uint64_t positionAfter = 0;
    };

    void startPes(const std::uint8_t*& data, int& n);
    void takeReported();
    void complete(std::uint64_t end);
    void stamp(AssembledUnit& unit);
    void trim();
    void giveUp();

    std::unique_ptr<IAccessUnitScanner> m_scanner;
    std::vector<std::uint8_t> m_data;  // the stream from offset m_base on
    std::uint64_t m_base = 0;
    std::deque<PesMark> m_pes;
    std::deque<PacketMark> m_packets;
    std::vector<std::uint64_t> m_losses;  // stream offsets where bytes went missing
    bool m_pending = false;  // a unit has begun whose end is not known yet
    AccessUnit m_pendingUnit;
    bool m_haveStamp = false;
    std::uint64_t m_lastStamp = 0;
    // The PES under way: the payload bytes its header declared (0: not said)
    // and those that came.
    std::uint64_t m_pesDeclared = 0;
    std::uint64_t m_pesReceived = 0;
    int m_brokenHeaders = 0;
    std::vector<AssembledUnit> m_units;
};

}  // namespace codec
