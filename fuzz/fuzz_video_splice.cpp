// Access units of H.264 and HEVC gathered from arbitrary payloads of a
// video PID and spliced: the input chooses the payload sizes, which begin a
// PES, where packets are lost and which groups of pictures are left out
// (the first bytes). Every unit given out has bytes, and no more units are
// given out than were taken.

#include <cstdint>
#include <memory>
#include <vector>

#include "codec/access_unit_assembler.h"
#include "codec/video_codec.h"
#include "codec/video_splicer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    const std::size_t piece = 1 + data[0] % 184;
    const std::uint8_t starts = data[1], losses = data[2], keeps = data[3];
    const std::uint8_t* stream = data + 4;
    const std::size_t n = size - 4;
    for (StreamCodec id : {StreamCodec::H264, StreamCodec::Hevc}) {
        codec::AccessUnitAssembler assembler(codec::VideoCodecFor(id)->NewScanner());
        codec::VideoSplicer splicer(id);
        std::size_t taken = 0, released = 0, points = 0;
        auto splice = [&] {
            for (codec::AssembledUnit& unit : assembler.TakeUnits()) {
                ++taken;
                const bool keep = (keeps >> (points++ % 8)) & 1;
                splicer.Take(unit, keep, assembler.Scanner().ParameterSets());
                for (const auto& out : splicer.TakeReleased()) {
                    if (out.unit.bytes.empty()) __builtin_trap();
                    ++released;
                }
            }
        };
        for (std::size_t at = 0, k = 0; at < n; at += piece, ++k) {
            codec::VideoPayload payload;
            payload.data = stream + at;
            payload.length = static_cast<int>(std::min(piece, n - at));
            payload.positionAfter = 188 * (k + 1);
            assembler.Feed(payload, (starts >> (k % 8)) & 1, (losses >> (k % 8)) & 1);
            splice();
        }
        assembler.Finish();
        splice();
        splicer.Finish();
        released += splicer.TakeReleased().size();
        if (released > taken) __builtin_trap();
    }
    return 0;
}
