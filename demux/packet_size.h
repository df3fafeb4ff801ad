#pragma once
// Which packet size a recording uses: 188-byte transport packets, or 192-byte
// ones where each packet follows a 4-byte prefix (a time code, as M2TS and
// some receivers write them).

#include <cstddef>
#include <cstdint>

class CRawFile;

struct PacketLayout {
    std::size_t size = 188;      // 188 or 192
    std::uint64_t firstSync = 0;  // position of the first sync byte found
    bool found = false;           // false: no packet run found; size stays 188
};

// Looks for a run of sync bytes one packet apart in the first MiB from `from`;
// the file position is left where it was.
PacketLayout DetectPacketLayout(CRawFile& file, std::uint64_t from);
// The same on bytes held in memory.
PacketLayout DetectPacketLayout(const std::uint8_t* data, std::size_t size);
