#include "codec/vui_start.h"

namespace codec {

namespace {
constexpr int kExtendedSar = 255;
}

VuiStart ReadVuiStart(RbspReader& r) {
    VuiStart vui;
    if (r.Flag()) {  // aspect_ratio_info_present_flag
        const int idc = static_cast<int>(r.Bits(8));
        if (idc == kExtendedSar) {
            const int w = static_cast<int>(r.Bits(16));
            const int h = static_cast<int>(r.Bits(16));
            vui.sampleAspect = Reduced(w, h);
        } else {
            vui.sampleAspect = SampleAspectOfIdc(idc);
        }
    }
    if (r.Flag()) r.Skip(1);  // overscan_info_present_flag, overscan_appropriate_flag
    if (r.Flag()) {           // video_signal_type_present_flag
        r.Skip(4);            // video_format, video_full_range_flag
        if (r.Flag()) {       // colour_description_present_flag
            r.Skip(16);       // colour_primaries, transfer_characteristics
            vui.matrixCoefficients = static_cast<int>(r.Bits(8));
        }
    }
    if (r.Flag()) {  // chroma_loc_info_present_flag
        r.Ue();
        r.Ue();
    }
    return vui;
}

}  // namespace codec
