// ParseAudioHeader on arbitrary payloads, as every audio codec it knows.

#include <cstdint>
#include <vector>

#include "app/mpeg_snapshot.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> payload(data, data + size);
    const int length = static_cast<int>(payload.size());
    for (std::int32_t type : {kStreamMpeg1Audio, kStreamMpeg2Audio, kStreamAC3, kStreamEac3,
                              kStreamAacAdts, kStreamAacLatm}) {
        sPMTEntry entry;
        entry.streamType = type;
        if (CMpegSnapshot::ParseAudioHeader(payload.data(), length, entry) && entry.sampleRate == 0)
            __builtin_trap();
    }
    return 0;
}
