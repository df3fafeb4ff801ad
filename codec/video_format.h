#pragma once
// What a video stream's sequence-level headers say about its pictures:
// codec, size, sample and display aspect, frame rate, interlacing, profile
// and level. The same record for every codec, filled from an MPEG-2 sequence
// header, an H.264 sequence parameter set or an HEVC one.

#include <array>
#include <cstdint>
#include <string>

#include "demux/pmt_entry.h"

namespace codec {

struct Ratio {
    int num = 0;
    int den = 0;
    bool Known() const { return num > 0 && den > 0; }
    bool operator==(const Ratio&) const = default;
};

struct VideoFormat {
    StreamCodec codec = StreamCodec::Unknown;
    int width = 0;   // of the displayed picture (cropping applied)
    int height = 0;  // of a frame, both fields
    Ratio sampleAspect;
    Ratio displayAspect;  // reduced: 16:9, 4:3, ...
    // As MPEG-2's aspect_ratio_information: 1 square samples, 2 4:3,
    // 3 16:9, 4 2.21:1; 0 when the display aspect is none of these.
    int aspectCode = 0;
    Ratio frameRate;  // frames per second, 25/1, 30000/1001; unknown: 0/0
    bool interlaced = false;
    std::string profile;   // "Main", "High", "Main 10"; empty when unknown
    int level = 0;         // as the stream codes it: 40 for H.264 4.0, 153 for HEVC 5.1
    int chromaFormat = 1;  // 1 4:2:0, 2 4:2:2, 3 4:4:4 (0 monochrome)
    int bitDepth = 8;
    int matrixCoefficients = 2;  // as coded; 2 = unspecified

    bool Known() const { return codec != StreamCodec::Unknown && width > 0 && height > 0; }
    // Size and sample aspect (square when unknown) with the display aspect
    // and aspect code they give.
    void SetPicture(int pictureWidth, int pictureHeight, Ratio sar);
};

// The display aspect of a picture of width x height samples, each of
// sample aspect sar (1:1 when unknown), reduced to lowest terms.
Ratio DisplayAspect(int width, int height, Ratio sar);
// MPEG-2's aspect code for a display aspect (within 1 %): 2, 3, 4, or 1
// when the samples are square and no other code fits; 0 otherwise.
int AspectCodeOf(Ratio displayAspect, Ratio sampleAspect);
// Table E-1 of H.264 and HEVC: the sample aspect of aspect_ratio_idc 1..16;
// 0:0 for others (255, extended SAR, is read by the caller).
Ratio SampleAspectOfIdc(int idc);
// "16:9", "25/1", "" for an unknown ratio.
std::string RatioText(Ratio ratio, char separator);
// Frame rate as ffprobe gives it: reduced.
Ratio Reduced(std::int64_t num, std::int64_t den);
// An MPEG-2 sequence header's first 12 bytes for a format, for readers of
// MPEG-2 headers: its size (each side at most 4,095) and aspect code, frame
// rate code 0.
std::array<std::uint8_t, 12> SequenceHeaderBytes(const VideoFormat& format);

}  // namespace codec
