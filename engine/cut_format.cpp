#include "engine/cut_format.h"

namespace {
constexpr std::int32_t kTsPacketSize = 188;
constexpr std::size_t kPrefixedPacketSize = 192;
// Humax receivers write their recordings in blocks of 32 KiB.
constexpr std::int32_t kHumaxBlockSize = 32768;
// Topfield .tts/.raw: three packets' worth of header; PVR5000 .rec: nine.
constexpr std::uint64_t kTopfieldHeader = 564;
constexpr std::uint64_t kRecHeader = 1692;
}  // namespace

CutFormat CutFormatFor(const std::string& extension, std::size_t packetSize) {
    CutFormat format;
    if (extension == "vid") {
        format.hardCut = true;
        format.packetStride = kHumaxBlockSize;
    } else if (extension == "rec") {
        format.headerSize = kRecHeader;
    } else if (extension == "tts" || extension == "raw") {
        format.headerSize = kTopfieldHeader;
        format.findFirstPacket = true;
    } else if (extension == "ts") {
        // The first packet (usually the PAT) stays in front of everything.
        format.headerSize = kTsPacketSize;
    }
    // Humax blocks are cut as they are; every other kind on its packets.
    if (!format.hardCut && packetSize == kPrefixedPacketSize) {
        format.packetSize = packetSize;
        format.packetStride = static_cast<std::int32_t>(packetSize);
        if (extension == "ts") format.headerSize = packetSize;
    }
    return format;
}
