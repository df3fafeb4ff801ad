#pragma once
// The sequence layer of MPEG-1/MPEG-2 video: sequence header, sequence
// extension, sequence display extension and quant matrix extension.

#include <cstdint>

#include "mpegsnap/bit_reader.h"

namespace mpegsnap {

// The largest picture the decoder takes: it bounds every buffer it
// allocates from stream values.
constexpr int kMaxWidth = 1920;
constexpr int kMaxHeight = 1152;

enum ChromaFormat : int { kChroma420 = 1, kChroma422 = 2, kChroma444 = 3 };

struct SequenceHeader {
    int horizontalSize = 0;
    int verticalSize = 0;
    int aspectRatioCode = 0;
    int frameRateCode = 0;
    bool mpeg2 = false;  // a sequence extension followed the header
    int chromaFormat = kChroma420;
    bool progressiveSequence = true;
    int matrixCoefficients = 0;
    // Quantiser matrices in raster order.
    std::uint8_t intraMatrix[64] = {};
    std::uint8_t nonIntraMatrix[64] = {};
    std::uint8_t chromaIntraMatrix[64] = {};
    std::uint8_t chromaNonIntraMatrix[64] = {};

    // Parses the header after its start code; false when it is malformed.
    // Resets the extension fields to their MPEG-1 values and loads the
    // matrices (defaults unless transmitted).
    bool ParseHeader(BitReader& reader);
    // The extension data after the 4-bit extension id.
    bool ParseSequenceExtension(BitReader& reader);
    void ParseDisplayExtension(BitReader& reader);
    void ParseQuantMatrixExtension(BitReader& reader);

    // Sizes and format within what the decoder takes.
    bool IsSupported() const;
    int MacroblockWidth() const { return (horizontalSize + 15) / 16; }
    int MacroblockHeight() const;
};

}  // namespace mpegsnap
