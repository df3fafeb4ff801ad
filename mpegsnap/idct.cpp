#include "mpegsnap/idct.h"

#include <algorithm>

namespace mpegsnap {

namespace {
// 2048 * sqrt(2) * cos(k * pi / 16), rounded.
constexpr int kW1 = 2841;
constexpr int kW2 = 2676;
constexpr int kW3 = 2408;
constexpr int kW5 = 1609;
constexpr int kW6 = 1108;
constexpr int kW7 = 565;

// Row pass: 11 fractional bits, results carry 3 bits more than the input.
inline void rowPass(std::int16_t* row) {
    int x1 = row[4] * 2048;
    int x2 = row[6];
    int x3 = row[2];
    int x4 = row[1];
    int x5 = row[7];
    int x6 = row[5];
    int x7 = row[3];
    if (!(x1 | x2 | x3 | x4 | x5 | x6 | x7)) {
        const std::int16_t dc = static_cast<std::int16_t>(row[0] * 8);
        for (int i = 0; i < 8; ++i) row[i] = dc;
        return;
    }
    int x0 = row[0] * 2048 + 128;  // rounds the final shift

    int x8 = kW7 * (x4 + x5);
    x4 = x8 + (kW1 - kW7) * x4;
    x5 = x8 - (kW1 + kW7) * x5;
    x8 = kW3 * (x6 + x7);
    x6 = x8 - (kW3 - kW5) * x6;
    x7 = x8 - (kW3 + kW5) * x7;

    x8 = x0 + x1;
    x0 -= x1;
    x1 = kW6 * (x3 + x2);
    x2 = x1 - (kW2 + kW6) * x2;
    x3 = x1 + (kW2 - kW6) * x3;
    x1 = x4 + x6;
    x4 -= x6;
    x6 = x5 + x7;
    x5 -= x7;

    x7 = x8 + x3;
    x8 -= x3;
    x3 = x0 + x2;
    x0 -= x2;
    x2 = (181 * (x4 + x5) + 128) >> 8;
    x4 = (181 * (x4 - x5) + 128) >> 8;

    row[0] = static_cast<std::int16_t>((x7 + x1) >> 8);
    row[1] = static_cast<std::int16_t>((x3 + x2) >> 8);
    row[2] = static_cast<std::int16_t>((x0 + x4) >> 8);
    row[3] = static_cast<std::int16_t>((x8 + x6) >> 8);
    row[4] = static_cast<std::int16_t>((x8 - x6) >> 8);
    row[5] = static_cast<std::int16_t>((x0 - x4) >> 8);
    row[6] = static_cast<std::int16_t>((x3 - x2) >> 8);
    row[7] = static_cast<std::int16_t>((x7 - x1) >> 8);
}

inline std::int16_t clipResidual(int value) {
    return static_cast<std::int16_t>(std::clamp(value, -256, 255));
}

// Column pass: 8 fractional bits in, rounding by 8192 before the final shift
// by 14.
inline void columnPass(std::int16_t* column) {
    int x1 = column[8 * 4] * 256;
    int x2 = column[8 * 6];
    int x3 = column[8 * 2];
    int x4 = column[8 * 1];
    int x5 = column[8 * 7];
    int x6 = column[8 * 5];
    int x7 = column[8 * 3];
    if (!(x1 | x2 | x3 | x4 | x5 | x6 | x7)) {
        const std::int16_t value = clipResidual((column[0] + 32) >> 6);
        for (int i = 0; i < 8; ++i) column[8 * i] = value;
        return;
    }
    int x0 = column[0] * 256 + 8192;

    int x8 = kW7 * (x4 + x5) + 4;
    x4 = (x8 + (kW1 - kW7) * x4) >> 3;
    x5 = (x8 - (kW1 + kW7) * x5) >> 3;
    x8 = kW3 * (x6 + x7) + 4;
    x6 = (x8 - (kW3 - kW5) * x6) >> 3;
    x7 = (x8 - (kW3 + kW5) * x7) >> 3;

    x8 = x0 + x1;
    x0 -= x1;
    x1 = kW6 * (x3 + x2) + 4;
    x2 = (x1 - (kW2 + kW6) * x2) >> 3;
    x3 = (x1 + (kW2 - kW6) * x3) >> 3;
    x1 = x4 + x6;
    x4 -= x6;
    x6 = x5 + x7;
    x5 -= x7;

    x7 = x8 + x3;
    x8 -= x3;
    x3 = x0 + x2;
    x0 -= x2;
    x2 = (181 * (x4 + x5) + 128) >> 8;
    x4 = (181 * (x4 - x5) + 128) >> 8;

    column[8 * 0] = clipResidual((x7 + x1) >> 14);
    column[8 * 1] = clipResidual((x3 + x2) >> 14);
    column[8 * 2] = clipResidual((x0 + x4) >> 14);
    column[8 * 3] = clipResidual((x8 + x6) >> 14);
    column[8 * 4] = clipResidual((x8 - x6) >> 14);
    column[8 * 5] = clipResidual((x0 - x4) >> 14);
    column[8 * 6] = clipResidual((x3 - x2) >> 14);
    column[8 * 7] = clipResidual((x7 - x1) >> 14);
}

inline std::uint8_t clipPixel(int value) {
    return static_cast<std::uint8_t>(value < 0 ? 0 : (value > 255 ? 255 : value));
}
}  // namespace

void Idct::Transform(std::int16_t* block) {
    for (int i = 0; i < 8; ++i) rowPass(block + 8 * i);
    for (int i = 0; i < 8; ++i) columnPass(block + i);
}

int Idct::DcValue(int coefficient) {
    // The row pass multiplies a lone DC by 8, the column pass then rounds it
    // down by 64.
    return std::clamp((coefficient * 8 + 32) >> 6, -256, 255);
}

void Idct::Put(std::int16_t* block, std::uint8_t* dest, std::ptrdiff_t stride) {
    Transform(block);
    for (int y = 0; y < 8; ++y, dest += stride, block += 8)
        for (int x = 0; x < 8; ++x) dest[x] = clipPixel(block[x]);
}

void Idct::Add(std::int16_t* block, std::uint8_t* dest, std::ptrdiff_t stride) {
    Transform(block);
    for (int y = 0; y < 8; ++y, dest += stride, block += 8)
        for (int x = 0; x < 8; ++x) dest[x] = clipPixel(dest[x] + block[x]);
}

void Idct::PutDc(int dc, std::uint8_t* dest, std::ptrdiff_t stride) {
    const std::uint8_t value = clipPixel(DcValue(dc));
    for (int y = 0; y < 8; ++y, dest += stride)
        for (int x = 0; x < 8; ++x) dest[x] = value;
}

void Idct::AddDc(int dc, std::uint8_t* dest, std::ptrdiff_t stride) {
    const int value = DcValue(dc);
    for (int y = 0; y < 8; ++y, dest += stride)
        for (int x = 0; x < 8; ++x) dest[x] = clipPixel(dest[x] + value);
}

}  // namespace mpegsnap

