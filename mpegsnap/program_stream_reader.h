#pragma once
// Extracts one video elementary stream from an MPEG-1 or MPEG-2 program
// stream: pack headers and other streams' packets are skipped, the payload
// of the wanted stream's PES packets is appended in order. Every length read
// from the stream is checked against the bytes held.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace mpegsnap {

class ProgramStreamReader {
  public:
    // streamId 0xE0..0xEF.
    explicit ProgramStreamReader(int streamId = 0xE0) : m_streamId(streamId) {}

    // Appends the elementary stream to out. Damaged packets are skipped;
    // gives false when nothing of the stream was found.
    bool Extract(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& out) const;

  private:
    // Offset of the payload within a PES packet of the given length that
    // starts at data (at its start code), or 0 when the header is invalid.
    static std::size_t PayloadOffset(const std::uint8_t* packet, std::size_t length);

    int m_streamId;
};

}  // namespace mpegsnap
