#pragma once
// The NAL units of an H.264 or HEVC access unit held whole in memory, as an
// Annex B byte stream: where each lies, and rewriting fields of one with its
// emulation prevention done again (a changed bit may make or break a
// 00 00 0x run, so the unit is taken back to its RBSP and escaped anew).

#include <cstddef>
#include <cstdint>
#include <vector>

namespace codec {

struct NalSpan {
    std::size_t prefix = 0;  // of its 00 00 01
    std::size_t begin = 0;   // of its header, behind the prefix
    std::size_t end = 0;     // behind its last byte (trailing zero bytes excluded)
};

// Every NAL unit of data in order.
std::vector<NalSpan> SplitNals(const std::uint8_t* data, std::size_t size);

// The RBSP of a NAL unit's bytes: emulation_prevention_three_bytes removed.
std::vector<std::uint8_t> Unescape(const std::uint8_t* data, std::size_t size);
// A NAL unit's bytes from its RBSP: 03 before each 00..03 that follows two
// zero bytes, and after two final zero bytes.
std::vector<std::uint8_t> Escape(const std::vector<std::uint8_t>& rbsp);
// Sets count bits (at most 32) from bit position at (0 = the first byte's
// top bit) to value; false when they do not lie within the bytes.
bool PutBits(std::vector<std::uint8_t>& rbsp, std::uint64_t at, int count, std::uint32_t value);

}  // namespace codec
