// The inverse DCT against a double-precision reference, with the accuracy
// limits of IEEE 1180, and Put/Add against the reference transform.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>

#include "mpegsnap/idct.h"

using mpegsnap::Idct;

namespace {

const double kPi = std::acos(-1.0);

double basis(int u, int x) {
    const double scale = u == 0 ? std::sqrt(0.125) : 0.5;
    return scale * std::cos((2 * x + 1) * u * kPi / 16);
}

// Separable double-precision transforms: out[v][u] = sum in[y][x] *
// basis(v, y) * basis(u, x) forward, and the transpose of that inverse.
void transform2d(const double in[64], double out[64], bool inverse) {
    double rows[64];
    for (int y = 0; y < 8; ++y)
        for (int u = 0; u < 8; ++u) {
            double sum = 0;
            for (int x = 0; x < 8; ++x)
                sum += in[8 * y + x] * (inverse ? basis(x, u) : basis(u, x));
            rows[8 * y + u] = sum;
        }
    for (int v = 0; v < 8; ++v)
        for (int u = 0; u < 8; ++u) {
            double sum = 0;
            for (int y = 0; y < 8; ++y)
                sum += rows[8 * y + u] * (inverse ? basis(y, v) : basis(v, y));
            out[8 * v + u] = sum;
        }
}

void forwardDct(const int pixels[64], int coefficients[64]) {
    double in[64], out[64];
    for (int i = 0; i < 64; ++i)
        in[i] = pixels[i];
    transform2d(in, out, false);
    for (int i = 0; i < 64; ++i)
        coefficients[i] = std::clamp(static_cast<int>(std::lround(out[i])), -2048, 2047);
}

void referenceIdct(const int coefficients[64], int out[64]) {
    double in[64], result[64];
    for (int i = 0; i < 64; ++i)
        in[i] = coefficients[i];
    transform2d(in, result, true);
    for (int i = 0; i < 64; ++i)
        out[i] = std::clamp(static_cast<int>(std::lround(result[i])), -256, 255);
}

// IEEE 1180: blocks of random samples in -low..high, 10000 of them per
// range and sign.
void checkAccuracy(int low, int high, int sign) {
    std::mt19937 random(static_cast<unsigned>(low * 31 + high + sign));
    std::uniform_int_distribution<int> sample(-low, high);
    double errorSum[64] = {}, squareSum[64] = {};
    int peak = 0;
    constexpr int kBlocks = 10000;
    for (int n = 0; n < kBlocks; ++n) {
        int pixels[64], coefficients[64], expected[64];
        for (int& p : pixels)
            p = sign * sample(random);
        forwardDct(pixels, coefficients);
        referenceIdct(coefficients, expected);
        std::int16_t block[64];
        for (int i = 0; i < 64; ++i)
            block[i] = static_cast<std::int16_t>(coefficients[i]);
        Idct::Transform(block);
        for (int i = 0; i < 64; ++i) {
            const int error = block[i] - expected[i];
            peak = std::max(peak, std::abs(error));
            errorSum[i] += error;
            squareSum[i] += error * error;
        }
    }
    double totalError = 0, totalSquare = 0;
    for (int i = 0; i < 64; ++i) {
        EXPECT_LE(std::fabs(errorSum[i]) / kBlocks, 0.015) << "mean error at " << i;
        EXPECT_LE(squareSum[i] / kBlocks, 0.06) << "mean square error at " << i;
        totalError += errorSum[i];
        totalSquare += squareSum[i];
    }
    EXPECT_LE(peak, 1);
    EXPECT_LE(std::fabs(totalError) / (64.0 * kBlocks), 0.0015);
    EXPECT_LE(totalSquare / (64.0 * kBlocks), 0.02);
}

TEST(Idct, MeetsIeee1180Accuracy) {
    checkAccuracy(256, 255, 1);
    checkAccuracy(5, 5, 1);
    checkAccuracy(300, 300, 1);
    checkAccuracy(256, 255, -1);
}

TEST(Idct, ZeroInZeroOutAndPutAddClip) {
    std::int16_t block[64] = {};
    Idct::Transform(block);
    for (std::int16_t v : block)
        EXPECT_EQ(v, 0);

    // A DC of 8 * 100 gives 100 everywhere; Put writes it, Add adds it with
    // clipping to 0..255. Column-major input: the DC stays at index 0.
    std::int16_t dc[64] = {};
    dc[0] = 800;
    std::uint8_t picture[8 * 16];
    std::fill(std::begin(picture), std::end(picture), 200);
    Idct::Put(dc, picture, 16);
    EXPECT_EQ(picture[0], 100);
    EXPECT_EQ(picture[7 * 16 + 7], 100);
    EXPECT_EQ(picture[8], 200);  // outside the block
    Idct::Add(dc, picture, 16);
    EXPECT_EQ(picture[3 * 16 + 2], 200);
    Idct::Add(dc, picture, 16);
    EXPECT_EQ(picture[5 * 16 + 1], 255);
    dc[0] = -2048;
    Idct::Add(dc, picture, 16);
    EXPECT_EQ(picture[4 * 16 + 4], 0);

    // An AC coefficient: Put matches the row-major transform of the same
    // coefficients.
    std::int16_t rowMajor[64] = {};
    rowMajor[0] = 1024;
    rowMajor[1] = -300;    // row 0, column 1
    rowMajor[8 * 3] = 77;  // row 3, column 0
    std::int16_t columnMajor[64] = {};
    for (int i = 0; i < 64; ++i)
        columnMajor[Idct::ColumnMajor(i)] = rowMajor[i];
    Idct::Put(columnMajor, picture, 16);
    Idct::Transform(rowMajor);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            EXPECT_EQ(picture[16 * y + x], std::clamp<int>(rowMajor[8 * y + x], 0, 255))
                << x << "," << y;
}

}  // namespace
