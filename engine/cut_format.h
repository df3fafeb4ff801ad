#pragma once
// How a recording type is cut: the header kept at its start, soft cuts at GOP
// starts or hard cuts on fixed positions, the alignment unit of cut positions
// and whether its first packet is searched (Topfield recordings may carry
// bytes between their header and the first packet).

#include <cstddef>
#include <cstdint>
#include <string>

struct CutFormat {
    std::uint64_t headerSize = 0;
    bool hardCut = false;
    std::int32_t packetStride = 188;
    bool findFirstPacket = false;  // also: patch the sync byte TF-Get expects
    // 188, or 192 for packets behind a 4-byte prefix (a time code, as M2TS
    // and some receivers write them); the prefix stays with its packet.
    std::size_t packetSize = 188;
};

// By the recording's lower-case extension ("ts", "tts", "vid", ...) and the
// size of its packets.
CutFormat CutFormatFor(const std::string& extension, std::size_t packetSize = 188);
