#pragma once
// The part of the video usability information (annex E) that H.264 and
// HEVC write alike: sample aspect, overscan, video signal type with the
// colour description, chroma sample location.

#include "codec/rbsp_reader.h"
#include "codec/video_format.h"

namespace codec {

struct VuiStart {
    Ratio sampleAspect;          // unknown when not sent
    int matrixCoefficients = 2;  // 2 = unspecified
};

VuiStart ReadVuiStart(RbspReader& r);

}  // namespace codec
