#include "output/pack_writer.h"

#include <cstring>

#include "output/output_file.h"

namespace {
constexpr int kPackHeaderSize = 14;
constexpr int kMinPadding = 8;  // fewer free bytes go into the pack header as stuffing
constexpr std::int64_t kBytesPerRateUnit = 50;
}  // namespace

std::uint8_t* CPackWriter::LayOutPack(COutputFile& out, std::uint64_t scr, std::uint32_t muxRate,
                                      int pesSize, bool endCode) {
    const int room = kPesRoom - (endCode ? kEndCodeSize : 0);
    if (pesSize < 0 || pesSize > room) return nullptr;
    std::uint8_t* w = out.Reserve(kPackSize);
    if (w == nullptr) return nullptr;
    const int free = room - pesSize;
    const int stuffing = free < kMinPadding ? free : 0;
    const std::uint8_t start[4] = {0, 0, 1, 0xBA};
    std::memcpy(w, start, 4);
    WriteScr(scr, w + 4);
    WriteMuxRate(muxRate, w + 10);
    w[13] = static_cast<std::uint8_t>(0xF8 | stuffing);
    std::memset(w + kPackHeaderSize, 0xFF, static_cast<std::size_t>(stuffing));
    std::uint8_t* pes = w + kPackHeaderSize + stuffing;
    std::uint8_t* after = pes + pesSize;
    if (free >= kMinPadding) {
        const std::uint8_t padding[6] = {0, 0, 1, 0xBE, static_cast<std::uint8_t>((free - 6) >> 8),
                                         static_cast<std::uint8_t>(free - 6)};
        std::memcpy(after, padding, 6);
        std::memset(after + 6, 0xFF, static_cast<std::size_t>(free - 6));
        after += free;
    }
    if (endCode) {
        const std::uint8_t end[4] = {0, 0, 1, 0xB9};
        std::memcpy(after, end, 4);
    }
    return pes;
}

std::int64_t CPackWriter::PackTicks(std::uint32_t muxRate) {
    const std::int64_t bytesPerSecond = static_cast<std::int64_t>(muxRate) * kBytesPerRateUnit;
    return (std::int64_t{kPackSize} * 90000 + bytesPerSecond - 1) / bytesPerSecond;
}

std::uint64_t CPackWriter::ReadStamp(const std::uint8_t* p) {
    return (static_cast<std::uint64_t>(p[0] & 0x0E) << 29) | (static_cast<std::uint64_t>(p[1]) << 22) |
           (static_cast<std::uint64_t>(p[2] & 0xFE) << 14) | (static_cast<std::uint64_t>(p[3]) << 7) |
           (p[4] >> 1);
}

void CPackWriter::WriteStamp(std::uint64_t stamp, std::uint8_t prefix, std::uint8_t* p) {
    p[0] = static_cast<std::uint8_t>((prefix << 4) | ((stamp >> 29) & 0x0E) | 1);
    p[1] = static_cast<std::uint8_t>(stamp >> 22);
    p[2] = static_cast<std::uint8_t>(((stamp >> 14) & 0xFE) | 1);
    p[3] = static_cast<std::uint8_t>(stamp >> 7);
    p[4] = static_cast<std::uint8_t>(((stamp << 1) & 0xFE) | 1);
}

// '01', SCR bits 32..30, marker, 29..15, marker, 14..0, marker, extension 0, marker.
void CPackWriter::WriteScr(std::uint64_t scr, std::uint8_t* p) {
    p[0] = static_cast<std::uint8_t>(0x44 | ((scr >> 27) & 0x38) | ((scr >> 28) & 3));
    p[1] = static_cast<std::uint8_t>(scr >> 20);
    p[2] = static_cast<std::uint8_t>(((scr >> 12) & 0xF8) | 4 | ((scr >> 13) & 3));
    p[3] = static_cast<std::uint8_t>(scr >> 5);
    p[4] = static_cast<std::uint8_t>(((scr << 3) & 0xF8) | 4);
    p[5] = 1;
}

std::uint64_t CPackWriter::ReadScr(const std::uint8_t* p) {
    const auto b = [p](int i) { return static_cast<std::uint64_t>(p[i]); };
    return ((b(0) >> 3) & 7) << 30 | (b(0) & 3) << 28 | b(1) << 20 | (b(2) >> 3) << 15 |
           (b(2) & 3) << 13 | b(3) << 5 | b(4) >> 3;
}

void CPackWriter::WriteMuxRate(std::uint32_t rate, std::uint8_t* p) {
    const std::uint32_t field = (rate << 2) | 3;
    p[0] = static_cast<std::uint8_t>(field >> 16);
    p[1] = static_cast<std::uint8_t>(field >> 8);
    p[2] = static_cast<std::uint8_t>(field);
}

std::uint32_t CPackWriter::ReadMuxRate(const std::uint8_t* p) {
    return ((static_cast<std::uint32_t>(p[0]) << 16) | (p[1] << 8) | p[2]) >> 2;
}
