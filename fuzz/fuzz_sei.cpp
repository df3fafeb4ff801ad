// The H.264 SEI parser on arbitrary NAL payloads: messages are read only
// within their stated sizes, a recovery point is taken only when its fields
// fit its payload, and damage never hides the messages read before it.

#include <cstdint>
#include <vector>

#include "codec/h264_sei.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::uint8_t> nal(data, data + size);
    codec::h264::SeiMessages sei;
    const codec::ParseResult result = codec::h264::ParseSei(nal.data(), nal.size(), sei);
    if (sei.payloadTypes.size() > 64) __builtin_trap();
    if (sei.hasRecoveryPoint && (sei.recoveryPoint.recoveryFrameCount < 0 ||
                                 sei.recoveryPoint.recoveryFrameCount > 65535))
        __builtin_trap();
    // Every message stated at least two bytes (type and size).
    if (2 * sei.payloadTypes.size() > nal.size()) __builtin_trap();
    // Cut at any point, the messages read are a prefix of those of the whole.
    if (result == codec::ParseResult::Ok && !nal.empty()) {
        codec::h264::SeiMessages cut;
        codec::h264::ParseSei(nal.data(), nal.size() / 2, cut);
        for (std::size_t i = 0; i < cut.payloadTypes.size() && i < sei.payloadTypes.size(); ++i)
            if (cut.payloadTypes[i] != sei.payloadTypes[i]) __builtin_trap();
    }
    return 0;
}
