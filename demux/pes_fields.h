#pragma once
// Fields of a PES header (ISO/IEC 13818-1) and arithmetic on its 33-bit time
// stamps, shared by the unit assembly and the synchroniser.

#include <cstdint>

namespace pes {

constexpr std::int64_t kWrap = std::int64_t{1} << 33;

// later - earlier on the 33-bit circle, in [-2^32, 2^32): a stamp that
// wrapped past 2^33 still counts forward.
inline std::int64_t Diff33(std::uint64_t earlier, std::uint64_t later) {
    const auto d = static_cast<std::int64_t>((later - earlier) & (kWrap - 1));
    return d >= kWrap / 2 ? d - kWrap : d;
}

// The 33-bit stamp of the five bytes of a PTS or DTS field.
inline std::uint64_t ReadStamp(const std::uint8_t* p) {
    return (static_cast<std::uint64_t>(p[0] & 0x0E) << 29) | (static_cast<std::uint64_t>(p[1]) << 22) |
           (static_cast<std::uint64_t>(p[2] & 0xFE) << 14) | (static_cast<std::uint64_t>(p[3]) << 7) |
           (p[4] >> 1);
}

// Writes a stamp into a PTS or DTS field with the given four-bit prefix
// (2 PTS only, 3 PTS before a DTS, 1 DTS) and all marker bits set.
inline void WriteStamp(std::uint64_t stamp, std::uint8_t prefix, std::uint8_t* p) {
    p[0] = static_cast<std::uint8_t>((prefix << 4) | ((stamp >> 29) & 0x0E) | 1);
    p[1] = static_cast<std::uint8_t>(stamp >> 22);
    p[2] = static_cast<std::uint8_t>(((stamp >> 14) & 0xFE) | 1);
    p[3] = static_cast<std::uint8_t>(stamp >> 7);
    p[4] = static_cast<std::uint8_t>(((stamp << 1) & 0xFE) | 1);
}

// Whether the PES header at header[0] (length bytes held) carries a PTS.
inline bool HasPts(const std::uint8_t* header, int length) {
    return length >= 14 && (header[7] & 0x80) != 0;
}

// The header length of a PES that starts at p, or 0 when it does not fit in
// what is held (or in a saved header of 255 bytes): such a header is damaged.
inline int HeaderLength(const std::uint8_t* p, int length) {
    if (length < 9) return 0;
    const int h = 9 + p[8];
    return h <= length && h <= 255 ? h : 0;
}

}  // namespace pes
