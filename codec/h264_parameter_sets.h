#pragma once
// H.264 sequence and picture parameter sets (ITU-T H.264 7.3.2.1, 7.3.2.2,
// annex E), as far as finding pictures, their order and their format needs.

#include <cstddef>
#include <cstdint>

#include "codec/nal_unit.h"
#include "codec/video_format.h"

namespace codec::h264 {

struct Sps {
    int profileIdc = 0;
    int constraintFlags = 0;
    int levelIdc = 0;
    int id = 0;
    int chromaFormatIdc = 1;
    bool separateColourPlane = false;
    int bitDepthLuma = 8;
    int log2MaxFrameNum = 4;
    int pocType = 0;
    int log2MaxPocLsb = 4;
    bool frameMbsOnly = true;
    bool mbAdaptiveFrameField = false;
    int widthInMbs = 0;
    int heightInMapUnits = 0;
    int cropLeft = 0, cropRight = 0, cropTop = 0, cropBottom = 0;  // in crop units
    // VUI
    Ratio sampleAspect;
    int matrixCoefficients = 2;
    std::uint32_t numUnitsInTick = 0;
    std::uint32_t timeScale = 0;

    int Width() const;
    int Height() const;
    VideoFormat Format() const;
};

struct Pps {
    int id = 0;
    int spsId = 0;
};

// rbsp: the NAL unit after its one-byte header.
ParseResult ParseSps(const std::uint8_t* rbsp, std::size_t size, Sps& sps);
ParseResult ParsePps(const std::uint8_t* rbsp, std::size_t size, Pps& pps);
// "Baseline", "Main", "High", "High 10", ...; empty for others.
const char* ProfileName(int profileIdc, int constraintFlags);

}  // namespace codec::h264
