#pragma once
// The picture layer: picture header and picture coding extension.

#include "mpegsnap/bit_reader.h"

namespace mpegsnap {

enum PictureType : int { kPictureI = 1, kPictureP = 2, kPictureB = 3, kPictureD = 4 };
enum PictureStructure : int { kTopField = 1, kBottomField = 2, kFramePicture = 3 };

struct PictureHeader {
    int temporalReference = 0;
    int codingType = 0;
    bool fullPelForward = false;  // MPEG-1 only
    bool fullPelBackward = false;
    int fCode[2][2] = {{15, 15}, {15, 15}};  // [forward/backward][horizontal/vertical]
    int intraDcPrecision = 0;
    int structure = kFramePicture;
    bool topFieldFirst = false;
    bool framePredFrameDct = true;
    bool concealmentMotionVectors = false;
    bool qScaleType = false;
    bool intraVlcFormat = false;
    bool alternateScan = false;
    bool progressiveFrame = true;

    // The header after its start code; resets the coding extension's fields
    // to their MPEG-1 meaning. False when malformed or of an unknown type.
    bool ParseHeader(BitReader& reader);
    // The picture coding extension after its 4-bit id.
    bool ParseCodingExtension(BitReader& reader);

    bool IsField() const { return structure != kFramePicture; }
};

}  // namespace mpegsnap
