#include "engine/video_splice.h"

namespace {
std::int32_t wrapped(std::int64_t value, int log2Max) {
    const std::int64_t max = std::int64_t{1} << log2Max;
    value %= max;
    return static_cast<std::int32_t>(value < 0 ? value + max : value);
}
}  // namespace

void RenumberState::Enter(const VideoSplice& splice) {
    std::int64_t previousFrameNum = splice.previousFrameNum;
    std::int64_t previousPocLsb = splice.previousPocLsb;
    if (active) {
        // The pictures before the splice were renumbered by an earlier one.
        previousFrameNum = wrapped(previousFrameNum + frameNumDelta, numbering.log2MaxFrameNum);
        previousPocLsb = wrapped(previousPocLsb + pocLsbDelta, numbering.log2MaxPocLsb);
    }
    numbering = splice.numbering;
    prefix = 0;  // the picture's PES packet starts with its own start code
    frameNumDelta = 0;
    pocLsbDelta = 0;
    active = false;
    if (splice.idr) return;  // an IDR picture numbers anew
    frameNumDelta =
        wrapped(previousFrameNum + 1 - splice.frameNum, numbering.log2MaxFrameNum);
    if (numbering.pocType == 0)
        pocLsbDelta = wrapped(previousPocLsb + splice.pocGap - splice.pocLsb,
                              numbering.log2MaxPocLsb);
    active = frameNumDelta != 0 || pocLsbDelta != 0;
}
