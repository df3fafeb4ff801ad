#include "output/pack_writer.h"

#include <algorithm>
#include <cstring>

#include "output/mpeg_packet.h"
#include "output/output_file.h"

namespace {
constexpr std::uint64_t kMaxDtsLead = 90000;  // a DTS further than 1 s before its PTS is bogus
constexpr int kPackHeaderSize = 14;
constexpr int kMinPadding = 8;  // fewer free bytes go into the pack header as stuffing
constexpr std::int64_t kBytesPerRateUnit = 50;
}

void CPackWriter::Reset() {
    m_muxRate = {0x01, 0x89, 0xC3};
    m_scrBase = 0;
    m_scrBaseSet = false;
}

void CPackWriter::SetScrBase(std::uint64_t base) {
    m_scrBase = base & kClockMask;
    m_scrBaseSet = true;
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

// Writes a fresh PES header (length field left 0) and returns its size. The
// first piece carries the PTS, and the DTS moved by the same amount as the PTS
// when the source had one that still lies before the PTS; later pieces carry
// no time stamps. AC-3 also gets the P-STD extension and the sub-stream header.
int CPackWriter::BuildHeader(const CMpegPacket& packet, bool first, std::uint64_t pts,
                             std::uint8_t streamId, std::uint8_t subStreamId,
                             std::uint8_t* out) const {
    const std::uint8_t* d = packet.Data();
    const bool ac3 = streamId == 0xBD;
    out[0] = 0;
    out[1] = 0;
    out[2] = 1;
    out[3] = streamId;
    out[4] = out[5] = 0;
    out[6] = static_cast<std::uint8_t>(0x80 | (d[6] & 0x0F));
    int n = 9;
    std::uint8_t flags = 0;
    if (first) {
        flags = 0x80;
        WriteStamp(pts, 2, out + n);
        n += 5;
        const int h = packet.m_headerLength;
        if (!ac3 && (d[7] & 0xC0) == 0xC0 && h >= 19) {
            const std::uint64_t shift = (pts - ReadStamp(d + 9)) & kClockMask;
            const std::uint64_t dts = (ReadStamp(d + 14) + shift) & kClockMask;
            const std::uint64_t lead = (pts - dts) & kClockMask;
            if (lead <= kMaxDtsLead && lead <= pts) {
                flags = 0xC0;
                out[9] = static_cast<std::uint8_t>((out[9] & 0x0F) | 0x30);
                WriteStamp(dts, 1, out + n);
                n += 5;
            }
        }
    }
    if (ac3) {
        flags |= 0x01;
        const std::uint8_t ext[3] = {0x1E, 0x40, 0x20};  // P-STD buffer: scale 0, size 32
        std::memcpy(out + n, ext, 3);
        n += 3;
    }
    out[7] = flags;
    out[8] = static_cast<std::uint8_t>(n - 9);
    if (ac3) {
        // Sub-stream id, frame count, pointer to the first frame (1 = right after).
        const std::uint8_t sub[4] = {subStreamId, static_cast<std::uint8_t>(first ? 1 : 0), 0,
                                     static_cast<std::uint8_t>(first ? 1 : 0)};
        std::memcpy(out + n, sub, 4);
        n += 4;
    }
    return n;
}

int CPackWriter::WritePacket(const CMpegPacket& packet, std::uint8_t streamId,
                             std::uint8_t subStreamId, COutputFile& out) {
    const std::uint8_t* d = packet.Data();
    const std::int32_t size = packet.Size();
    const std::int32_t h = packet.m_headerLength;
    if (h < 9 || h > size || d[0] != 0 || d[1] != 0 || d[2] != 1) return 0;
    if (!m_scrBaseSet) SetScrBase(packet.m_pts);
    const std::uint64_t stamp = (packet.m_pts - m_scrBase) & kClockMask;

    std::array<std::uint8_t, 64> header;
    std::int32_t offset = h;
    int packs = 0;
    while (offset < size) {
        const int hw = BuildHeader(packet, offset == h, stamp, streamId, subStreamId, header.data());
        const int chunk = static_cast<int>(std::min<std::int64_t>(kPesRoom, hw + size - offset));
        const int pad = kPesRoom - chunk;
        const int stuffing = pad < 8 ? pad : 0;
        // The pack is laid out in the file's own buffer: no copy of its own.
        std::uint8_t* w = out.Reserve(kPackSize);
        if (w == nullptr) return packs;
        const std::uint8_t start[4] = {0, 0, 1, 0xBA};
        std::memcpy(w, start, 4);
        WriteScr(stamp, w + 4);
        std::memcpy(w + 10, m_muxRate.data(), 3);
        w[13] = static_cast<std::uint8_t>(0xF8 | stuffing);
        w += 14;
        std::memset(w, 0xFF, static_cast<std::size_t>(stuffing));
        w += stuffing;
        header[4] = static_cast<std::uint8_t>((chunk - 6) >> 8);
        header[5] = static_cast<std::uint8_t>(chunk - 6);
        std::memcpy(w, header.data(), static_cast<std::size_t>(hw));
        w += hw;
        const int n = chunk - hw;
        std::memcpy(w, d + offset, static_cast<std::size_t>(n));
        w += n;
        offset += n;
        if (pad >= 8) {
            const std::uint8_t padStart[6] = {0, 0, 1, 0xBE, static_cast<std::uint8_t>((pad - 6) >> 8),
                                              static_cast<std::uint8_t>(pad - 6)};
            std::memcpy(w, padStart, 6);
            std::memset(w + 6, 0xFF, static_cast<std::size_t>(pad - 6));
        }
        ++packs;
    }
    return packs;
}

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

void CPackWriter::WriteMuxRate(std::uint32_t rate, std::uint8_t* p) {
    const std::uint32_t field = (rate << 2) | 3;
    p[0] = static_cast<std::uint8_t>(field >> 16);
    p[1] = static_cast<std::uint8_t>(field >> 8);
    p[2] = static_cast<std::uint8_t>(field);
}

std::uint32_t CPackWriter::ReadMuxRate(const std::uint8_t* p) {
    return ((static_cast<std::uint32_t>(p[0]) << 16) | (p[1] << 8) | p[2]) >> 2;
}
