#include "output/nav_pack.h"

#include <cstring>

#include "output/pack_writer.h"

namespace {
constexpr int kPciLength = 0x3D4;  // PES_packet_length of the PCI packet
constexpr int kDsiLength = 0x3FA;  // and of the DSI packet
constexpr std::uint8_t kPrivateStream2 = 0xBF;
constexpr std::uint8_t kPciSubStream = 0x00;
constexpr std::uint8_t kDsiSubStream = 0x01;
// Field offsets inside the PCI and DSI data (after the sub-stream byte).
constexpr int kPciLbn = 0;
constexpr int kPciStartPtm = 12;
constexpr int kPciEndPtm = 16;
constexpr int kDsiScr = 0;
constexpr int kDsiLbn = 4;

void Put32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}

// 00 00 01 BF, length, sub-stream id; returns the start of the data.
std::uint8_t* PutPrivate2(std::uint8_t* p, int length, std::uint8_t subStream) {
    const std::uint8_t head[7] = {0, 0, 1, kPrivateStream2, static_cast<std::uint8_t>(length >> 8),
                                  static_cast<std::uint8_t>(length), subStream};
    std::memcpy(p, head, 7);
    std::memset(p + 7, 0, static_cast<std::size_t>(length - 1));
    return p + 7;
}
}  // namespace

void CNavPack::WriteSystemHeader(int audioStreams, int videoStreams, std::uint8_t* p) {
    const std::uint32_t rateBound = (1u << 23) | (CPackWriter::kMuxRate << 1) | 1;
    const std::uint8_t header[kSystemHeaderSize] = {
        0, 0, 1, 0xBB, 0, kSystemHeaderSize - 6,
        static_cast<std::uint8_t>(rateBound >> 16), static_cast<std::uint8_t>(rateBound >> 8),
        static_cast<std::uint8_t>(rateBound),
        // audio_bound, fixed_flag 0, CSPS_flag 0
        static_cast<std::uint8_t>((audioStreams & 0x3F) << 2),
        // audio and video locked to the system clock, marker, video_bound
        static_cast<std::uint8_t>(0xE0 | (videoStreams & 0x1F)),
        0x7F,  // packet_rate_restriction_flag 0, reserved
        // stream_id, '11', P-STD_buffer_bound_scale, P-STD_buffer_size_bound
        0xB9, 0xE0, 0xE8,  // all video streams: 232 x 1024
        0xB8, 0xC0, 0x20,  // all MPEG audio streams: 32 x 128
        0xBD, 0xE0, 0x3A,  // private stream 1: 58 x 1024
        0xBF, 0xE0, 0x02,  // private stream 2: 2 x 1024
    };
    std::memcpy(p, header, sizeof header);
}

bool CNavPack::Write(COutputFile& out, const sInfo& info) {
    std::uint8_t* p = CPackWriter::LayOutPack(out, info.scr, info.muxRate, CPackWriter::kPesRoom, false);
    if (!p) return false;
    WriteSystemHeader(info.audioStreams, info.videoStreams, p);
    p += kSystemHeaderSize;
    std::uint8_t* pci = PutPrivate2(p, kPciLength, kPciSubStream);
    Put32(pci + kPciLbn, info.sector);
    Put32(pci + kPciStartPtm, static_cast<std::uint32_t>(info.startPtm));
    Put32(pci + kPciEndPtm, static_cast<std::uint32_t>(info.endPtm));
    std::uint8_t* dsi = PutPrivate2(p + 6 + kPciLength, kDsiLength, kDsiSubStream);
    Put32(dsi + kDsiScr, static_cast<std::uint32_t>(info.scr));
    Put32(dsi + kDsiLbn, info.sector);
    return true;
}
