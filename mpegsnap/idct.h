#pragma once
// Separable 8x8 integer inverse DCT of IEEE 1180 accuracy, and the writing of
// its result into a picture: put for intra blocks, add to a prediction for
// the others, both clipped to 0..255.

#include <cstddef>
#include <cstdint>

namespace mpegsnap {

class Idct {
public:
    // Transforms the 64 coefficients in place (row-major); the results lie in
    // -256..255.
    static void Transform(std::int16_t* block);

    static void Put(std::int16_t* block, std::uint8_t* dest, std::ptrdiff_t stride);
    static void Add(std::int16_t* block, std::uint8_t* dest, std::ptrdiff_t stride);
    // Blocks with only a DC coefficient: the whole block takes one value.
    static void PutDc(int dc, std::uint8_t* dest, std::ptrdiff_t stride);
    static void AddDc(int dc, std::uint8_t* dest, std::ptrdiff_t stride);
    // The value every sample of a DC-only block gets from the transform.
    static int DcValue(int coefficient);
};

}  // namespace mpegsnap
