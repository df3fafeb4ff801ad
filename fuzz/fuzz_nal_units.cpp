// The access-unit scanners of H.264, HEVC and MPEG-2 on arbitrary elementary
// streams, fed in pieces whose sizes the input chooses (the first byte): the
// units come in stream order within the bytes fed, and a unit that is a
// random-access point comes with its parameter sets.

#include <cstdint>
#include <vector>

#include "codec/video_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::size_t piece = 1 + data[0] % 200;
    const std::vector<std::uint8_t> es(data + 1, data + size);
    for (StreamCodec id : {StreamCodec::H264, StreamCodec::Hevc, StreamCodec::Mpeg2Video}) {
        auto scanner = codec::VideoCodecFor(id)->NewScanner();
        std::vector<codec::AccessUnit> units;
        for (std::size_t at = 0; at < es.size(); at += piece) {
            scanner->Feed(es.data() + at, std::min(piece, es.size() - at));
            for (const codec::AccessUnit& unit : scanner->TakeUnits())
                units.push_back(unit);
        }
        scanner->Finish();
        for (const codec::AccessUnit& unit : scanner->TakeUnits())
            units.push_back(unit);
        for (std::size_t i = 0; i < units.size(); ++i) {
            if (units[i].offset >= es.size()) __builtin_trap();
            if (i > 0 && units[i].offset < units[i - 1].offset) __builtin_trap();
            if (id != StreamCodec::Mpeg2Video && units[i].IsRandomAccess() &&
                scanner->ParameterSets().empty())
                __builtin_trap();
        }
        if (auto format = scanner->Format()) {
            if (format->width <= 0 || format->height <= 0) __builtin_trap();
        }
    }
    return 0;
}
