#pragma once
// HEVC video, sequence and picture parameter sets (ITU-T H.265 7.3.2.1 to
// 7.3.2.3, annex E), as far as finding pictures and their format needs.

#include <cstddef>
#include <cstdint>

#include "codec/nal_unit.h"
#include "codec/video_format.h"

namespace codec::hevc {

struct ProfileTierLevel {
    int profileIdc = 0;
    bool progressiveSource = false;
    bool interlacedSource = false;
    int levelIdc = 0;
};

struct Vps {
    int id = 0;
    std::uint32_t numUnitsInTick = 0;
    std::uint32_t timeScale = 0;
};

struct Sps {
    int vpsId = 0;
    int id = 0;
    ProfileTierLevel ptl;
    int chromaFormatIdc = 1;
    bool separateColourPlane = false;
    int width = 0;                                                 // pic_width_in_luma_samples
    int height = 0;                                                // pic_height_in_luma_samples
    int confLeft = 0, confRight = 0, confTop = 0, confBottom = 0;  // in chroma units
    int bitDepthLuma = 8;
    int log2MaxPocLsb = 4;
    // VUI
    Ratio sampleAspect;
    int matrixCoefficients = 2;
    bool fieldSeq = false;
    std::uint32_t numUnitsInTick = 0;
    std::uint32_t timeScale = 0;

    int CroppedWidth() const;
    int CroppedHeight() const;
    // The VPS supplies the frame rate when the SPS has no timing of its own.
    VideoFormat Format(const Vps* vps) const;
};

struct Pps {
    int id = 0;
    int spsId = 0;
    bool dependentSliceSegments = false;
    bool outputFlagPresent = false;
    int extraSliceHeaderBits = 0;
};

// rbsp: the NAL unit after its two-byte header.
ParseResult ParseVps(const std::uint8_t* rbsp, std::size_t size, Vps& vps);
ParseResult ParseSps(const std::uint8_t* rbsp, std::size_t size, Sps& sps);
ParseResult ParsePps(const std::uint8_t* rbsp, std::size_t size, Pps& pps);
// "Main", "Main 10", "Main Still Picture", "Rext"; empty for others.
const char* ProfileName(int profileIdc);

}  // namespace codec::hevc
