#include "mpegsnap/idct.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace mpegsnap {

namespace {
// 2048 * sqrt(2) * cos(k * pi / 16), rounded.
constexpr int kW1 = 2841;
constexpr int kW2 = 2676;
constexpr int kW3 = 2408;
constexpr int kW5 = 1609;
constexpr int kW6 = 1108;
constexpr int kW7 = 565;

// Eight independent one-dimensional transforms side by side, one per lane.
using Lanes = std::int32_t __attribute__((vector_size(32)));
using Lanes16 = std::int16_t __attribute__((vector_size(16)));

// (Vectors are passed by reference: by value they would change the calling
// convention with the instruction set.)
inline void load(const std::int16_t* p, Lanes& out) {
    Lanes16 v;
    std::memcpy(&v, p, sizeof(v));
    out = __builtin_convertvector(v, Lanes);
}

// Row pass: 11 fractional bits; a row whose AC coefficients are all zero
// comes out as eight times its DC, exactly as the shortcut of a scalar
// implementation would give.
inline void rowPass(const Lanes in[8], Lanes out[8]) {
    Lanes x1 = in[4] * 2048;
    Lanes x2 = in[6];
    Lanes x3 = in[2];
    Lanes x4 = in[1];
    Lanes x5 = in[7];
    Lanes x6 = in[5];
    Lanes x7 = in[3];
    Lanes x0 = in[0] * 2048 + 128;  // rounds the final shift

    Lanes x8 = kW7 * (x4 + x5);
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

    out[0] = (x7 + x1) >> 8;
    out[1] = (x3 + x2) >> 8;
    out[2] = (x0 + x4) >> 8;
    out[3] = (x8 + x6) >> 8;
    out[4] = (x8 - x6) >> 8;
    out[5] = (x0 - x4) >> 8;
    out[6] = (x3 - x2) >> 8;
    out[7] = (x7 - x1) >> 8;
}

// Column pass: rounding by 8192 before the final shift by 14.
inline void columnPass(const Lanes in[8], Lanes out[8]) {
    Lanes x1 = in[4] * 256;
    Lanes x2 = in[6];
    Lanes x3 = in[2];
    Lanes x4 = in[1];
    Lanes x5 = in[7];
    Lanes x6 = in[5];
    Lanes x7 = in[3];
    Lanes x0 = in[0] * 256 + 8192;

    Lanes x8 = kW7 * (x4 + x5) + 4;
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

    out[0] = (x7 + x1) >> 14;
    out[1] = (x3 + x2) >> 14;
    out[2] = (x0 + x4) >> 14;
    out[3] = (x8 + x6) >> 14;
    out[4] = (x8 - x6) >> 14;
    out[5] = (x0 - x4) >> 14;
    out[6] = (x3 - x2) >> 14;
    out[7] = (x7 - x1) >> 14;
}

// out[r][c] = in[c][r].
inline void transpose(const std::int32_t in[8][8], std::int32_t out[8][8]) {
#if defined(__SSE2__)
    for (int br = 0; br < 8; br += 4) {
        for (int bc = 0; bc < 8; bc += 4) {
            const __m128i a = _mm_load_si128(reinterpret_cast<const __m128i*>(&in[bc + 0][br]));
            const __m128i b = _mm_load_si128(reinterpret_cast<const __m128i*>(&in[bc + 1][br]));
            const __m128i c = _mm_load_si128(reinterpret_cast<const __m128i*>(&in[bc + 2][br]));
            const __m128i d = _mm_load_si128(reinterpret_cast<const __m128i*>(&in[bc + 3][br]));
            const __m128i ab0 = _mm_unpacklo_epi32(a, b);
            const __m128i ab1 = _mm_unpackhi_epi32(a, b);
            const __m128i cd0 = _mm_unpacklo_epi32(c, d);
            const __m128i cd1 = _mm_unpackhi_epi32(c, d);
            _mm_store_si128(reinterpret_cast<__m128i*>(&out[br + 0][bc]),
                            _mm_unpacklo_epi64(ab0, cd0));
            _mm_store_si128(reinterpret_cast<__m128i*>(&out[br + 1][bc]),
                            _mm_unpackhi_epi64(ab0, cd0));
            _mm_store_si128(reinterpret_cast<__m128i*>(&out[br + 2][bc]),
                            _mm_unpacklo_epi64(ab1, cd1));
            _mm_store_si128(reinterpret_cast<__m128i*>(&out[br + 3][bc]),
                            _mm_unpackhi_epi64(ab1, cd1));
        }
    }
#else
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c)
            out[r][c] = in[c][r];
#endif
}

// The residual in row-major order, not yet clipped: a later clip of
// prediction + residual to 0..255 gives what clipping to -256..255 first
// would.
inline void transform(const std::int16_t* columnMajor, std::int32_t residual[64]) {
    Lanes in[8], rows[8];
    for (int k = 0; k < 8; ++k)
        load(columnMajor + 8 * k, in[k]);
    rowPass(in, rows);  // rows[k], lane r: row r, column k after the row pass
    alignas(32) std::int32_t byColumn[8][8];
    alignas(32) std::int32_t byRow[8][8];
    std::memcpy(byColumn, rows, sizeof(byColumn));
    transpose(byColumn, byRow);
    for (int r = 0; r < 8; ++r)
        std::memcpy(&in[r], byRow[r], sizeof(Lanes));
    columnPass(in, rows);  // rows[r], lane c
    std::memcpy(residual, rows, 64 * sizeof(std::int32_t));
}

inline std::uint8_t clipPixel(int value) {
    return static_cast<std::uint8_t>(std::clamp(value, 0, 255));
}
}  // namespace

void Idct::Transform(std::int16_t* block) {
    std::int16_t columnMajor[64];
    for (int i = 0; i < 64; ++i)
        columnMajor[ColumnMajor(i)] = block[i];
    std::int32_t residual[64];
    transform(columnMajor, residual);
    for (int i = 0; i < 64; ++i)
        block[i] = static_cast<std::int16_t>(std::clamp(residual[i], -256, 255));
}

void Idct::Put(const std::int16_t* columnMajor, std::uint8_t* dest, std::ptrdiff_t stride) {
    alignas(32) std::int32_t residual[64];
    transform(columnMajor, residual);
#if defined(__SSE2__)
    // Saturating packs: to 16 bits, then to 0..255.
    for (int y = 0; y < 8; ++y, dest += stride) {
        const __m128i low = _mm_load_si128(reinterpret_cast<const __m128i*>(residual + 8 * y));
        const __m128i high = _mm_load_si128(reinterpret_cast<const __m128i*>(residual + 8 * y + 4));
        const __m128i words = _mm_packs_epi32(low, high);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dest), _mm_packus_epi16(words, words));
    }
#else
    for (int y = 0; y < 8; ++y, dest += stride)
        for (int x = 0; x < 8; ++x)
            dest[x] = clipPixel(residual[8 * y + x]);
#endif
}

void Idct::Add(const std::int16_t* columnMajor, std::uint8_t* dest, std::ptrdiff_t stride) {
    alignas(32) std::int32_t residual[64];
    transform(columnMajor, residual);
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (int y = 0; y < 8; ++y, dest += stride) {
        const __m128i low = _mm_load_si128(reinterpret_cast<const __m128i*>(residual + 8 * y));
        const __m128i high = _mm_load_si128(reinterpret_cast<const __m128i*>(residual + 8 * y + 4));
        const __m128i words = _mm_packs_epi32(low, high);
        const __m128i prediction =
            _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(dest)), zero);
        const __m128i sum = _mm_adds_epi16(words, prediction);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dest), _mm_packus_epi16(sum, sum));
    }
#else
    for (int y = 0; y < 8; ++y, dest += stride)
        for (int x = 0; x < 8; ++x)
            dest[x] = clipPixel(dest[x] + residual[8 * y + x]);
#endif
}

}  // namespace mpegsnap
