#include "mpegsnap/picture_header.h"

namespace mpegsnap {

bool PictureHeader::ParseHeader(BitReader& reader) {
    *this = PictureHeader{};
    temporalReference = static_cast<int>(reader.Get(10));
    codingType = static_cast<int>(reader.Get(3));
    reader.Skip(16);  // vbv_delay
    if (codingType == kPictureP || codingType == kPictureB) {
        fullPelForward = reader.GetBit();
        fCode[0][0] = fCode[0][1] = static_cast<int>(reader.Get(3));
    }
    if (codingType == kPictureB) {
        fullPelBackward = reader.GetBit();
        fCode[1][0] = fCode[1][1] = static_cast<int>(reader.Get(3));
    }
    return !reader.Overrun() && codingType >= kPictureI && codingType <= kPictureD;
}

bool PictureHeader::ParseCodingExtension(BitReader& reader) {
    fCode[0][0] = static_cast<int>(reader.Get(4));
    fCode[0][1] = static_cast<int>(reader.Get(4));
    fCode[1][0] = static_cast<int>(reader.Get(4));
    fCode[1][1] = static_cast<int>(reader.Get(4));
    intraDcPrecision = static_cast<int>(reader.Get(2));
    structure = static_cast<int>(reader.Get(2));
    topFieldFirst = reader.GetBit();
    framePredFrameDct = reader.GetBit();
    concealmentMotionVectors = reader.GetBit();
    qScaleType = reader.GetBit();
    intraVlcFormat = reader.GetBit();
    alternateScan = reader.GetBit();
    reader.Skip(1);  // repeat_first_field
    reader.Skip(1);  // chroma_420_type
    progressiveFrame = reader.GetBit();
    fullPelForward = fullPelBackward = false;
    // structure 0 is reserved.
    return !reader.Overrun() && structure != 0;
}

}  // namespace mpegsnap
