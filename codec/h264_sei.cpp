#include "codec/h264_sei.h"

#include "codec/rbsp_reader.h"

namespace codec::h264 {

namespace {
constexpr int kRecoveryPointPayload = 6;
// No SEI NAL unit of a broadcast carries more messages than this; a run of
// 0xFF bytes that would make more is damage.
constexpr std::size_t kMaxMessages = 64;

// payloadType and payloadSize: a run of 0xFF bytes, each adding 255, then
// the last byte.
std::uint32_t readSeiNumber(RbspReader& r) {
    std::uint32_t value = 0;
    for (;;) {
        const std::uint32_t byte = r.Bits(8);
        if (r.Failed()) return 0;
        value += byte;
        if (byte != 0xFF) return value;
        if (value > (1u << 20)) {
            r.Fail();
            return 0;
        }
    }
}
}  // namespace

ParseResult ParseSei(const std::uint8_t* rbsp, std::size_t size, SeiMessages& sei) {
    RbspReader r(rbsp, size);
    sei = SeiMessages{};
    while (r.MoreRbspData() && sei.payloadTypes.size() < kMaxMessages) {
        const auto type = static_cast<int>(readSeiNumber(r));
        const std::uint32_t payloadSize = readSeiNumber(r);
        if (r.Failed() || 8 * static_cast<std::uint64_t>(payloadSize) > r.BitsLeft())
            return ParseResult::Broken;
        sei.payloadTypes.push_back(type);
        if (type == kRecoveryPointPayload) {
            // The fields sit in the payload's first bits; its size bounds them.
            RecoveryPoint point;
            const std::uint64_t before = r.BitsLeft();
            point.recoveryFrameCount = static_cast<int>(r.UeMax(65535));
            point.exactMatch = r.Flag();
            point.brokenLink = r.Flag();
            r.Skip(2);  // changing_slice_group_idc
            const std::uint64_t used = before - r.BitsLeft();
            if (r.Failed() || used > 8 * static_cast<std::uint64_t>(payloadSize))
                return ParseResult::Broken;
            sei.hasRecoveryPoint = true;
            sei.recoveryPoint = point;
            r.Skip(8 * static_cast<std::uint64_t>(payloadSize) - used);
        } else {
            r.Skip(8 * static_cast<std::uint64_t>(payloadSize));
        }
        if (r.Failed()) return ParseResult::Broken;
    }
    return ParseResult::Ok;
}

}  // namespace codec::h264
