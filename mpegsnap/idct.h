#pragma once
// Separable 8x8 integer inverse DCT of IEEE 1180 accuracy, and the writing of
// its result into a picture: put for intra blocks, add to a prediction for
// the others, both clipped to 0..255.
//
// The blocks that Put and Add take hold their coefficients in column-major
// order (block[8 * u + v] is the coefficient of row v, column u): the row
// pass then runs on all eight rows at once.

#include <cstddef>
#include <cstdint>

namespace mpegsnap {

class Idct {
  public:
    // Transforms 64 coefficients in row-major order in place; the results
    // are clipped to -256..255.
    static void Transform(std::int16_t* block);

    static void Put(const std::int16_t* columnMajor, std::uint8_t* dest, std::ptrdiff_t stride);
    static void Add(const std::int16_t* columnMajor, std::uint8_t* dest, std::ptrdiff_t stride);

    // Index of the coefficient at raster position (row-major) in a
    // column-major block.
    static constexpr int ColumnMajor(int position) {
        return ((position & 7) << 3) | (position >> 3);
    }
};

}  // namespace mpegsnap
