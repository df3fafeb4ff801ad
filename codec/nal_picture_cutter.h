#pragma once
// The H.264 / HEVC picture cutter: the elementary stream is gathered from the
// video payloads (PES headers taken off, their stamps noted by stream
// offset) and handed to the codec's access-unit scanner. The first
// decodable random-access point wins; the cut-out is the parameter sets seen
// so far followed by that access unit (and, for an H.264 field picture, the
// unit of its second field).

#include <cstddef>
#include <deque>
#include <memory>
#include <vector>

#include "codec/access_unit.h"
#include "codec/picture_cutter.h"

namespace codec {

class NalPictureCutter : public IPictureCutter {
  public:
    // The cut-out is cut short at capacity bytes.
    NalPictureCutter(std::unique_ptr<IAccessUnitScanner> scanner, std::size_t capacity);

    bool Feed(const VideoPayload& payload, bool audioDone) override;
    bool Started() const override { return m_started; }
    bool PictureDone() const override { return m_done; }
    void Finish() override;

  private:
    // Where the bytes of one packet went in the elementary stream.
    struct PacketMark {
        std::uint64_t begin = 0, end = 0;  // stream offsets
        std::uint64_t positionAfter = 0;
        std::int64_t stamp = 0;  // of the last PES header up to this packet
    };

    void takeUnits();
    void start(const AccessUnit& unit);
    void endAt(std::uint64_t offset);
    void dropBefore(std::uint64_t offset);
    const PacketMark* markOf(std::uint64_t offset) const;

    std::unique_ptr<IAccessUnitScanner> m_scanner;
    std::size_t m_capacity;
    std::deque<PacketMark> m_marks;
    std::int64_t m_stamp = 0;
    std::uint64_t m_fed = 0;
    // Before the start: the stream from the last unit reported on.
    std::vector<std::uint8_t> m_pending;
    std::uint64_t m_pendingBase = 0;
    // After it: the cut-out is m_picture.bytes, its unit beginning behind
    // the parameter sets.
    bool m_started = false;
    bool m_done = false;
    AccessUnit m_point;
    std::size_t m_setsSize = 0;
    bool m_secondFieldWanted = false;
};

}  // namespace codec
