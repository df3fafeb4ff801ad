#include "codec/hevc_parameter_sets.h"

#include <algorithm>
#include <array>

#include "codec/rbsp_reader.h"
#include "codec/vui_start.h"

namespace codec::hevc {

namespace {
// No level allows a side beyond 16,888 samples (the square root of eight
// times the largest picture of level 6.2); anything far beyond is damage.
constexpr std::uint32_t kMaxSide = 32768;
constexpr int kMaxShortTermSets = 64;
constexpr int kMaxDeltaPocs = 32;

ProfileTierLevel parseProfileTierLevel(RbspReader& r, int maxSubLayersMinus1) {
    ProfileTierLevel ptl;
    r.Skip(2);  // general_profile_space
    r.Skip(1);  // general_tier_flag
    ptl.profileIdc = static_cast<int>(r.Bits(5));
    const std::uint32_t compatibility = r.Bits(32);
    // A stream may leave the profile number 0 and set only its
    // compatibility flag.
    if (ptl.profileIdc == 0)
        for (int j = 1; j < 32; ++j)
            if (compatibility & (1u << (31 - j))) {
                ptl.profileIdc = j;
                break;
            }
    ptl.progressiveSource = r.Flag();
    ptl.interlacedSource = r.Flag();
    r.Skip(2);   // non_packed_constraint_flag, frame_only_constraint_flag
    r.Skip(43);  // the profile's constraint flags
    r.Skip(1);   // general_inbld_flag or reserved
    ptl.levelIdc = static_cast<int>(r.Bits(8));
    std::array<bool, 8> profilePresent{}, levelPresent{};
    for (int i = 0; i < maxSubLayersMinus1; ++i) {
        profilePresent[static_cast<std::size_t>(i)] = r.Flag();
        levelPresent[static_cast<std::size_t>(i)] = r.Flag();
    }
    if (maxSubLayersMinus1 > 0)
        for (int i = maxSubLayersMinus1; i < 8; ++i)
            r.Skip(2);  // reserved_zero_2bits
    for (int i = 0; i < maxSubLayersMinus1; ++i) {
        if (profilePresent[static_cast<std::size_t>(i)]) r.Skip(88);
        if (levelPresent[static_cast<std::size_t>(i)]) r.Skip(8);
    }
    return ptl;
}

void skipScalingListData(RbspReader& r) {
    for (int sizeId = 0; sizeId < 4 && !r.Failed(); ++sizeId) {
        for (int matrixId = 0; matrixId < 6; matrixId += sizeId == 3 ? 3 : 1) {
            if (!r.Flag()) {                                    // scaling_list_pred_mode_flag
                r.UeMax(static_cast<std::uint32_t>(matrixId));  // pred_matrix_id_delta
                continue;
            }
            const int coefficients = std::min(64, 1 << (4 + (sizeId << 1)));
            if (sizeId > 1) r.Se();  // scaling_list_dc_coef_minus8
            for (int i = 0; i < coefficients && !r.Failed(); ++i)
                r.Se();  // scaling_list_delta_coef
        }
    }
}

// st_ref_pic_set (7.3.7): read only to reach what follows it. Gives the
// set's NumDeltaPocs, which a later set predicted from it needs.
int skipShortTermRefPicSet(RbspReader& r, int index,
                           const std::array<int, kMaxShortTermSets>& counts) {
    if (index != 0 && r.Flag()) {  // inter_ref_pic_set_prediction_flag
        r.Skip(1);                 // delta_rps_sign
        r.UeMax(32767);            // abs_delta_rps_minus1
        const int reference = counts[static_cast<std::size_t>(index - 1)];
        int count = 0;
        for (int j = 0; j <= reference && !r.Failed(); ++j) {
            const bool used = r.Flag();
            const bool useDelta = used || r.Flag();
            if (useDelta) ++count;
        }
        if (count > kMaxDeltaPocs) r.Fail();
        return count;
    }
    const auto negative = static_cast<int>(r.UeMax(16));
    const auto positive = static_cast<int>(r.UeMax(16));
    for (int i = 0; i < negative + positive && !r.Failed(); ++i) {
        r.UeMax(32767);  // delta_poc_s0/s1_minus1
        r.Skip(1);       // used_by_curr_pic flag
    }
    return negative + positive;
}

void parseVui(RbspReader& r, Sps& sps) {
    const VuiStart start = ReadVuiStart(r);
    sps.sampleAspect = start.sampleAspect;
    sps.matrixCoefficients = start.matrixCoefficients;
    r.Skip(1);  // neutral_chroma_indication_flag
    sps.fieldSeq = r.Flag();
    r.Skip(1);       // frame_field_info_present_flag
    if (r.Flag()) {  // default_display_window_flag
        for (int i = 0; i < 4; ++i)
            r.Ue();
    }
    if (r.Flag()) {  // vui_timing_info_present_flag
        sps.numUnitsInTick = r.Bits(32);
        sps.timeScale = r.Bits(32);
    }
}
}  // namespace

int Sps::CroppedWidth() const {
    const int unit = chromaFormatIdc == 1 || chromaFormatIdc == 2 ? 2 : 1;
    return width - unit * (confLeft + confRight);
}

int Sps::CroppedHeight() const {
    const int unit = chromaFormatIdc == 1 ? 2 : 1;
    return height - unit * (confTop + confBottom);
}

VideoFormat Sps::Format(const Vps* vps) const {
    VideoFormat f;
    f.codec = StreamCodec::Hevc;
    f.SetPicture(CroppedWidth(), CroppedHeight(), sampleAspect);
    std::uint32_t units = numUnitsInTick, scale = timeScale;
    if ((units == 0 || scale == 0) && vps != nullptr) {
        units = vps->numUnitsInTick;
        scale = vps->timeScale;
    }
    // In HEVC a tick is one picture.
    if (units > 0 && scale > 0) f.frameRate = Reduced(scale, units);
    f.interlaced = fieldSeq || ptl.interlacedSource;
    f.profile = ProfileName(ptl.profileIdc);
    f.level = ptl.levelIdc;
    f.chromaFormat = chromaFormatIdc;
    f.bitDepth = bitDepthLuma;
    f.matrixCoefficients = matrixCoefficients;
    return f;
}

ParseResult ParseVps(const std::uint8_t* rbsp, std::size_t size, Vps& out) {
    RbspReader r(rbsp, size);
    Vps vps;
    vps.id = static_cast<int>(r.Bits(4));
    r.Skip(2);  // vps_base_layer_internal_flag, vps_base_layer_available_flag
    const auto maxLayersMinus1 = static_cast<int>(r.Bits(6));
    const auto maxSubLayersMinus1 = static_cast<int>(r.Bits(3));
    r.Skip(1 + 16);  // temporal_id_nesting, reserved 0xFFFF
    if (r.Failed()) return ParseResult::Broken;
    out = vps;  // the id is what matters most
    if (maxSubLayersMinus1 > 6) return ParseResult::Broken;
    parseProfileTierLevel(r, maxSubLayersMinus1);
    const bool orderingPresent = r.Flag();
    for (int i = orderingPresent ? 0 : maxSubLayersMinus1; i <= maxSubLayersMinus1; ++i) {
        r.Ue();
        r.Ue();
        r.Ue();
    }
    const auto maxLayerId = static_cast<int>(r.Bits(6));
    const std::uint32_t layerSets = r.UeMax(1023);
    r.Skip(static_cast<std::uint64_t>(layerSets) * static_cast<std::uint64_t>(maxLayerId + 1));
    if (r.Flag()) {  // vps_timing_info_present_flag
        vps.numUnitsInTick = r.Bits(32);
        vps.timeScale = r.Bits(32);
    }
    (void)maxLayersMinus1;
    if (r.Failed()) return ParseResult::Broken;
    out = vps;
    return ParseResult::Ok;
}

ParseResult ParseSps(const std::uint8_t* rbsp, std::size_t size, Sps& out) {
    RbspReader r(rbsp, size);
    Sps sps;
    sps.vpsId = static_cast<int>(r.Bits(4));
    const auto maxSubLayersMinus1 = static_cast<int>(r.Bits(3));
    r.Skip(1);  // sps_temporal_id_nesting_flag
    if (maxSubLayersMinus1 > 6) return ParseResult::Broken;
    sps.ptl = parseProfileTierLevel(r, maxSubLayersMinus1);
    sps.id = static_cast<int>(r.UeMax(15));
    sps.chromaFormatIdc = static_cast<int>(r.UeMax(3));
    if (sps.chromaFormatIdc == 3) sps.separateColourPlane = r.Flag();
    sps.width = static_cast<int>(r.UeMax(kMaxSide));
    sps.height = static_cast<int>(r.UeMax(kMaxSide));
    if (r.Flag()) {  // conformance_window_flag
        sps.confLeft = static_cast<int>(r.UeMax(kMaxSide));
        sps.confRight = static_cast<int>(r.UeMax(kMaxSide));
        sps.confTop = static_cast<int>(r.UeMax(kMaxSide));
        sps.confBottom = static_cast<int>(r.UeMax(kMaxSide));
    }
    sps.bitDepthLuma = 8 + static_cast<int>(r.UeMax(8));
    r.UeMax(8);  // bit_depth_chroma_minus8
    sps.log2MaxPocLsb = 4 + static_cast<int>(r.UeMax(12));
    if (r.Failed() || sps.CroppedWidth() <= 0 || sps.CroppedHeight() <= 0)
        return ParseResult::Broken;
    // What the picture needs is known; the VUI lies behind the coding tools.
    out = sps;
    const bool orderingPresent = r.Flag();
    for (int i = orderingPresent ? 0 : maxSubLayersMinus1; i <= maxSubLayersMinus1; ++i) {
        r.Ue();  // sps_max_dec_pic_buffering_minus1
        r.Ue();  // sps_max_num_reorder_pics
        r.Ue();  // sps_max_latency_increase_plus1
    }
    for (int i = 0; i < 6; ++i)
        r.Ue();  // coding and transform block sizes, hierarchy depths
    if (r.Flag() && r.Flag()) skipScalingListData(r);  // enabled, data present
    r.Skip(2);       // amp_enabled_flag, sample_adaptive_offset_enabled_flag
    if (r.Flag()) {  // pcm_enabled_flag
        r.Skip(8);
        r.Ue();
        r.Ue();
        r.Skip(1);
    }
    const auto sets = static_cast<int>(r.UeMax(kMaxShortTermSets));
    std::array<int, kMaxShortTermSets> counts{};
    for (int i = 0; i < sets && !r.Failed(); ++i)
        counts[static_cast<std::size_t>(i)] = skipShortTermRefPicSet(r, i, counts);
    if (r.Flag()) {  // long_term_ref_pics_present_flag
        const std::uint32_t longTerm = r.UeMax(32);
        for (std::uint32_t i = 0; i < longTerm && !r.Failed(); ++i) {
            r.Skip(static_cast<std::uint64_t>(sps.log2MaxPocLsb));
            r.Skip(1);
        }
    }
    r.Skip(2);  // sps_temporal_mvp_enabled_flag, strong_intra_smoothing_enabled_flag
    if (r.Failed()) return ParseResult::Ok;  // no VUI to be had, the rest stands
    if (r.Flag()) {
        Sps withVui = sps;
        parseVui(r, withVui);
        if (!r.Failed()) sps = withVui;
    }
    out = sps;
    return ParseResult::Ok;
}

ParseResult ParsePps(const std::uint8_t* rbsp, std::size_t size, Pps& pps) {
    RbspReader r(rbsp, size, 16);
    Pps p;
    p.id = static_cast<int>(r.UeMax(63));
    p.spsId = static_cast<int>(r.UeMax(15));
    p.dependentSliceSegments = r.Flag();
    p.outputFlagPresent = r.Flag();
    p.extraSliceHeaderBits = static_cast<int>(r.Bits(3));
    if (r.Failed()) return ParseResult::Broken;
    pps = p;
    return ParseResult::Ok;
}

const char* ProfileName(int profileIdc) {
    switch (profileIdc) {
        case 1:
            return "Main";
        case 2:
            return "Main 10";
        case 3:
            return "Main Still Picture";
        case 4:
            return "Rext";
        default:
            return "";
    }
}

}  // namespace codec::hevc
