#include "mpegsnap/sequence_header.h"

#include <algorithm>
#include <iterator>

#include "mpegsnap/scan_tables.h"

namespace mpegsnap {

namespace {
// Matrices travel in zig-zag order whatever the picture's scan.
void loadMatrix(BitReader& reader, std::uint8_t* matrix) {
    for (int i = 0; i < 64; ++i) {
        const auto value = static_cast<std::uint8_t>(reader.Get(8));
        // A zero entry would make every coefficient vanish; the standard
        // forbids it, a damaged stream may carry it.
        matrix[kZigZagScan[i]] = value == 0 ? 1 : value;
    }
}
}  // namespace

bool SequenceHeader::ParseHeader(BitReader& reader) {
    horizontalSize = static_cast<int>(reader.Get(12));
    verticalSize = static_cast<int>(reader.Get(12));
    aspectRatioCode = static_cast<int>(reader.Get(4));
    frameRateCode = static_cast<int>(reader.Get(4));
    reader.Skip(18);  // bit_rate_value
    reader.Skip(1);   // marker
    reader.Skip(10);  // vbv_buffer_size_value
    reader.Skip(1);   // constrained_parameters_flag
    if (reader.GetBit())
        loadMatrix(reader, intraMatrix);
    else
        std::copy(std::begin(kDefaultIntraMatrix), std::end(kDefaultIntraMatrix), intraMatrix);
    if (reader.GetBit())
        loadMatrix(reader, nonIntraMatrix);
    else
        std::fill(std::begin(nonIntraMatrix), std::end(nonIntraMatrix), std::uint8_t{16});
    std::copy(std::begin(intraMatrix), std::end(intraMatrix), chromaIntraMatrix);
    std::copy(std::begin(nonIntraMatrix), std::end(nonIntraMatrix), chromaNonIntraMatrix);

    // MPEG-1 values until a sequence extension says otherwise.
    mpeg2 = false;
    chromaFormat = kChroma420;
    progressiveSequence = true;
    matrixCoefficients = 5;
    return !reader.Overrun();
}

bool SequenceHeader::ParseSequenceExtension(BitReader& reader) {
    reader.Skip(8);  // profile_and_level_indication
    progressiveSequence = reader.GetBit();
    chromaFormat = static_cast<int>(reader.Get(2));
    horizontalSize |= static_cast<int>(reader.Get(2)) << 12;
    verticalSize |= static_cast<int>(reader.Get(2)) << 12;
    reader.Skip(12 + 1 + 8 + 1 + 2 + 5);  // bit rate, marker, vbv, low_delay, frame rate ext
    mpeg2 = true;
    matrixCoefficients = 0;  // no sequence display extension yet
    return !reader.Overrun();
}

void SequenceHeader::ParseDisplayExtension(BitReader& reader) {
    reader.Skip(3);  // video_format
    if (reader.GetBit()) {
        reader.Skip(16);  // colour_primaries, transfer_characteristics
        const int coefficients = static_cast<int>(reader.Get(8));
        if (!reader.Overrun()) matrixCoefficients = coefficients;
    }
}

void SequenceHeader::ParseQuantMatrixExtension(BitReader& reader) {
    std::uint8_t matrix[64];
    if (reader.GetBit()) {
        loadMatrix(reader, matrix);
        if (reader.Overrun()) return;
        std::copy(std::begin(matrix), std::end(matrix), intraMatrix);
        std::copy(std::begin(matrix), std::end(matrix), chromaIntraMatrix);
    }
    if (reader.GetBit()) {
        loadMatrix(reader, matrix);
        if (reader.Overrun()) return;
        std::copy(std::begin(matrix), std::end(matrix), nonIntraMatrix);
        std::copy(std::begin(matrix), std::end(matrix), chromaNonIntraMatrix);
    }
    if (reader.GetBit()) {
        loadMatrix(reader, matrix);
        if (reader.Overrun()) return;
        std::copy(std::begin(matrix), std::end(matrix), chromaIntraMatrix);
    }
    if (reader.GetBit()) {
        loadMatrix(reader, matrix);
        if (reader.Overrun()) return;
        std::copy(std::begin(matrix), std::end(matrix), chromaNonIntraMatrix);
    }
}

bool SequenceHeader::IsSupported() const {
    return horizontalSize > 0 && verticalSize > 0 && horizontalSize <= kMaxWidth &&
           verticalSize <= kMaxHeight && chromaFormat >= kChroma420 && chromaFormat <= kChroma444;
}

int SequenceHeader::MacroblockHeight() const {
    // Interlaced MPEG-2 sequences code whole frame pairs of field macroblock
    // rows.
    if (!mpeg2 || progressiveSequence) return (verticalSize + 15) / 16;
    return 2 * ((verticalSize + 31) / 32);
}

}  // namespace mpegsnap
