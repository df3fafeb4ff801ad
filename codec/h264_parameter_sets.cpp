#include "codec/h264_parameter_sets.h"

#include "codec/rbsp_reader.h"
#include "codec/vui_start.h"

namespace codec::h264 {

namespace {
// The largest picture any level allows is 139,264 macroblocks; a side of
// more than 2,048 macroblocks (32,768 samples) is damage.
constexpr std::uint32_t kMaxSideInMbs = 2048;

bool hasChromaInfo(int profileIdc) {
    switch (profileIdc) {
        case 100:
        case 110:
        case 122:
        case 244:
        case 44:
        case 83:
        case 86:
        case 118:
        case 128:
        case 138:
        case 139:
        case 134:
        case 135:
            return true;
        default:
            return false;
    }
}

void skipScalingList(RbspReader& r, int size) {
    int lastScale = 8, nextScale = 8;
    for (int j = 0; j < size && !r.Failed(); ++j) {
        if (nextScale != 0) {
            const int delta = r.Se();
            if (delta < -128 || delta > 127) {
                r.Fail();  // delta_scale is -128..127
                return;
            }
            nextScale = (lastScale + delta + 256) % 256;
        }
        lastScale = nextScale == 0 ? lastScale : nextScale;
    }
}

void parseVui(RbspReader& r, Sps& sps) {
    const VuiStart start = ReadVuiStart(r);
    sps.sampleAspect = start.sampleAspect;
    sps.matrixCoefficients = start.matrixCoefficients;
    if (r.Flag()) {  // timing_info_present_flag
        sps.numUnitsInTick = r.Bits(32);
        sps.timeScale = r.Bits(32);
    }
    // The rest (HRD, bitstream restriction) is not needed here.
}
}  // namespace

int Sps::Width() const {
    const int cropUnit =
        chromaFormatIdc == 0 || separateColourPlane || chromaFormatIdc == 3 ? 1 : 2;
    return widthInMbs * 16 - cropUnit * (cropLeft + cropRight);
}

int Sps::Height() const {
    const int frameFactor = frameMbsOnly ? 1 : 2;
    const int subHeight = chromaFormatIdc == 1 && !separateColourPlane ? 2 : 1;
    const int cropUnit =
        (chromaFormatIdc == 0 || separateColourPlane ? 1 : subHeight) * frameFactor;
    return frameFactor * heightInMapUnits * 16 - cropUnit * (cropTop + cropBottom);
}

VideoFormat Sps::Format() const {
    VideoFormat f;
    f.codec = StreamCodec::H264;
    f.SetPicture(Width(), Height(), sampleAspect);
    // A tick is one field period: two make a frame.
    if (numUnitsInTick > 0 && timeScale > 0)
        f.frameRate = Reduced(timeScale, 2 * static_cast<std::int64_t>(numUnitsInTick));
    f.interlaced = !frameMbsOnly;
    f.profile = ProfileName(profileIdc, constraintFlags);
    f.level = levelIdc;
    f.chromaFormat = chromaFormatIdc;
    f.bitDepth = bitDepthLuma;
    f.matrixCoefficients = matrixCoefficients;
    return f;
}

ParseResult ParseSps(const std::uint8_t* rbsp, std::size_t size, Sps& out) {
    RbspReader r(rbsp, size);
    Sps sps;
    sps.profileIdc = static_cast<int>(r.Bits(8));
    sps.constraintFlags = static_cast<int>(r.Bits(8));
    sps.levelIdc = static_cast<int>(r.Bits(8));
    sps.id = static_cast<int>(r.UeMax(31));
    if (hasChromaInfo(sps.profileIdc)) {
        sps.chromaFormatIdc = static_cast<int>(r.UeMax(3));
        if (sps.chromaFormatIdc == 3) sps.separateColourPlane = r.Flag();
        sps.bitDepthLuma = 8 + static_cast<int>(r.UeMax(6));
        r.UeMax(6);      // bit_depth_chroma_minus8
        r.Skip(1);       // qpprime_y_zero_transform_bypass_flag
        if (r.Flag()) {  // seq_scaling_matrix_present_flag
            const int lists = sps.chromaFormatIdc == 3 ? 12 : 8;
            for (int i = 0; i < lists; ++i)
                if (r.Flag()) skipScalingList(r, i < 6 ? 16 : 64);
        }
    }
    sps.log2MaxFrameNum = 4 + static_cast<int>(r.UeMax(12));
    sps.pocType = static_cast<int>(r.UeMax(2));
    if (sps.pocType == 0) {
        sps.log2MaxPocLsb = 4 + static_cast<int>(r.UeMax(12));
    } else if (sps.pocType == 1) {
        r.Skip(1);  // delta_pic_order_always_zero_flag
        r.Se();     // offset_for_non_ref_pic
        r.Se();     // offset_for_top_to_bottom_field
        const std::uint32_t cycle = r.UeMax(255);
        for (std::uint32_t i = 0; i < cycle && !r.Failed(); ++i)
            r.Se();
    }
    r.UeMax(32);  // max_num_ref_frames (at most 16; some encoders write more)
    r.Skip(1);    // gaps_in_frame_num_value_allowed_flag
    sps.widthInMbs = static_cast<int>(r.UeMax(kMaxSideInMbs - 1)) + 1;
    sps.heightInMapUnits = static_cast<int>(r.UeMax(kMaxSideInMbs - 1)) + 1;
    sps.frameMbsOnly = r.Flag();
    if (!sps.frameMbsOnly) sps.mbAdaptiveFrameField = r.Flag();
    r.Skip(1);  // direct_8x8_inference_flag
    if (r.Flag()) {
        sps.cropLeft = static_cast<int>(r.UeMax(kMaxSideInMbs * 16));
        sps.cropRight = static_cast<int>(r.UeMax(kMaxSideInMbs * 16));
        sps.cropTop = static_cast<int>(r.UeMax(kMaxSideInMbs * 16));
        sps.cropBottom = static_cast<int>(r.UeMax(kMaxSideInMbs * 16));
    }
    if (r.Failed()) return ParseResult::Broken;
    if (sps.Width() <= 0 || sps.Height() <= 0) return ParseResult::Broken;
    if (r.Flag()) parseVui(r, sps);
    // A VUI cut short keeps what was read before the end; the picture
    // itself does not depend on it.
    out = sps;
    return ParseResult::Ok;
}

ParseResult ParsePps(const std::uint8_t* rbsp, std::size_t size, Pps& pps) {
    RbspReader r(rbsp, size, 16);
    Pps p;
    p.id = static_cast<int>(r.UeMax(255));
    p.spsId = static_cast<int>(r.UeMax(31));
    if (r.Failed()) return ParseResult::Broken;
    pps = p;
    return ParseResult::Ok;
}

const char* ProfileName(int profileIdc, int constraintFlags) {
    const bool set1 = (constraintFlags & 0x40) != 0;
    const bool set3 = (constraintFlags & 0x10) != 0;
    switch (profileIdc) {
        case 66:
            return set1 ? "Constrained Baseline" : "Baseline";
        case 77:
            return "Main";
        case 88:
            return "Extended";
        case 100:
            return "High";
        case 110:
            return set3 ? "High 10 Intra" : "High 10";
        case 122:
            return set3 ? "High 4:2:2 Intra" : "High 4:2:2";
        case 244:
            return set3 ? "High 4:4:4 Intra" : "High 4:4:4 Predictive";
        case 44:
            return "CAVLC 4:4:4";
        default:
            return "";
    }
}

}  // namespace codec::h264
