// Golden bitmaps: every chroma filter tap and both field filters pinned. The
// frames carry noise in every plane, so a changed tap, a swapped field, a
// wrong edge clamp or a rounding change shows in the output; a filter whose
// taps merely sum to 256 does not pass.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "mpegsnap/bitmap_converter.h"

using mpegsnap::BitmapConverter;
using mpegsnap::FrameView;

namespace {

using Plane = std::vector<std::uint8_t>;
using Taps = std::array<int, 6>;

// A frame of noise: a small linear congruential generator, so the planes are
// the same on every machine.
struct NoiseFrame {
    Plane y, cb, cr;
    FrameView view;

    NoiseFrame(int width, int height, int chromaFormat, bool progressive, bool mpeg2,
               std::uint32_t seed) {
        const int cw = chromaFormat == 3 ? width : (width + 1) / 2;
        const int ch = chromaFormat == 1 ? (height + 1) / 2 : height;
        auto fill = [&seed](Plane& plane, std::size_t size) {
            plane.resize(size);
            for (std::uint8_t& v : plane) {
                seed = seed * 1664525u + 1013904223u;
                v = static_cast<std::uint8_t>(seed >> 24);
            }
        };
        fill(y, static_cast<std::size_t>(width) * height);
        fill(cb, static_cast<std::size_t>(cw) * ch);
        fill(cr, static_cast<std::size_t>(cw) * ch);
        view.y = y.data();
        view.cb = cb.data();
        view.cr = cr.data();
        view.lumaStride = width;
        view.chromaStride = cw;
        view.width = width;
        view.height = height;
        view.chromaFormat = chromaFormat;
        view.progressiveFrame = progressive;
        view.mpeg2 = mpeg2;
        view.matrixCoefficients = 1;
    }
};

// ---- the reference: the filters written out sample by sample ----

int clip255(int v) {
    return std::clamp(v, 0, 255);
}

// (sum of tap * s[first + k] + 128) >> 8 with the indices clamped to 0..n-1.
int tap6(const std::vector<int>& s, int first, const Taps& taps) {
    const int n = static_cast<int>(s.size());
    int sum = 128;
    for (int k = 0; k < 6; ++k)
        sum += taps[static_cast<std::size_t>(k)] *
               s[static_cast<std::size_t>(std::clamp(first + k, 0, n - 1))];
    return clip255(sum >> 8);
}

std::vector<int> interpolateLine(const std::vector<int>& s, bool mpeg2) {
    std::vector<int> out;
    const int n = static_cast<int>(s.size());
    for (int j = 0; j < n; ++j) {
        if (mpeg2) {
            out.push_back(s[static_cast<std::size_t>(j)]);
            out.push_back(tap6(s, j - 2, {21, -52, 159, 159, -52, 21}));
        } else {
            out.push_back(tap6(s, j - 3, {5, -21, 70, 228, -37, 11}));
            out.push_back(tap6(s, j - 2, {11, -37, 228, 70, -21, 5}));
        }
    }
    return out;
}

// Column x of rows 0..rows-1 of a plane.
std::vector<int> column(const Plane& p, int stride, int x, int rows, int firstRow = 0,
                        int step = 1) {
    std::vector<int> c;
    for (int r = firstRow; r < rows; r += step)
        c.push_back(p[static_cast<std::size_t>(r * stride + x)]);
    return c;
}

// Vertical 2:1 of one chroma column: rows source rows into 2 * rows.
std::vector<int> verticalColumn(const Plane& p, int stride, int x, int rows, bool progressive) {
    std::vector<int> out(static_cast<std::size_t>(2 * rows));
    if (progressive) {
        const std::vector<int> s = column(p, stride, x, rows);
        for (int i = 0; i < rows; ++i) {
            out[static_cast<std::size_t>(2 * i)] = tap6(s, i - 3, {3, -16, 67, 227, -32, 7});
            out[static_cast<std::size_t>(2 * i + 1)] = tap6(s, i - 2, {7, -32, 227, 67, -16, 3});
        }
        return out;
    }
    const std::vector<int> top = column(p, stride, x, rows, 0, 2);
    const std::vector<int> bottom = column(p, stride, x, rows, 1, 2);
    for (int k = 0; k < rows / 2; ++k) {
        // Field lines 2k and 2k + 1 of the top field are frame rows 4k and
        // 4k + 2; those of the bottom field 4k + 1 and 4k + 3.
        out[static_cast<std::size_t>(4 * k)] = tap6(top, k - 3, {1, -7, 30, 248, -21, 5});
        out[static_cast<std::size_t>(4 * k + 2)] = tap6(top, k - 2, {7, -35, 194, 110, -24, 4});
        out[static_cast<std::size_t>(4 * k + 1)] = tap6(bottom, k - 3, {4, -24, 110, 194, -35, 7});
        out[static_cast<std::size_t>(4 * k + 3)] = tap6(bottom, k - 2, {5, -21, 248, 30, -7, 1});
    }
    return out;
}

// The full-resolution chroma plane (width columns, height rows) of a frame.
std::vector<std::vector<int>> fullChroma(const Plane& p, const FrameView& f, int width,
                                         int height) {
    const int cw = width / 2;
    std::vector<std::vector<int>> rows(static_cast<std::size_t>(height));
    std::vector<std::vector<int>> columns;
    if (f.chromaFormat == 1) {
        for (int x = 0; x < cw; ++x)
            columns.push_back(verticalColumn(p, static_cast<int>(f.chromaStride), x, height / 2,
                                             f.progressiveFrame));
    }
    for (int r = 0; r < height; ++r) {
        std::vector<int> line;
        for (int x = 0; x < cw; ++x)
            line.push_back(f.chromaFormat == 1
                               ? columns[static_cast<std::size_t>(x)][static_cast<std::size_t>(r)]
                               : p[static_cast<std::size_t>(r * f.chromaStride + x)]);
        rows[static_cast<std::size_t>(r)] = interpolateLine(line, f.mpeg2);
    }
    return rows;
}

// B, G, R of every pixel, top row first, by the BT.709 set (index 1).
std::vector<std::uint8_t> referencePixels(const NoiseFrame& frame, int width, int height) {
    const auto cb = fullChroma(frame.cb, frame.view, width, height);
    const auto cr = fullChroma(frame.cr, frame.view, width, height);
    std::vector<std::uint8_t> out;
    for (int r = 0; r < height; ++r) {
        for (int x = 0; x < width; ++x) {
            const int luma = 76309 * (frame.y[static_cast<std::size_t>(r * width + x)] - 16);
            const int u = cb[static_cast<std::size_t>(r)][static_cast<std::size_t>(x)] - 128;
            const int v = cr[static_cast<std::size_t>(r)][static_cast<std::size_t>(x)] - 128;
            out.push_back(static_cast<std::uint8_t>(clip255((138453 * u + luma + 32768) >> 16)));
            out.push_back(
                static_cast<std::uint8_t>(clip255((luma - 13954 * u - 34903 * v + 32768) >> 16)));
            out.push_back(static_cast<std::uint8_t>(clip255((117504 * v + luma + 32768) >> 16)));
        }
    }
    return out;
}

struct Converted {
    std::vector<std::uint8_t> file;
    int width = 0, height = 0;
};

Converted convert(const FrameView& view) {
    BitmapConverter converter;
    Converted c;
    c.file.resize(static_cast<std::size_t>(view.width + 2) * (view.height + 2) * 3 + 4096);
    const int bytes =
        converter.ConvertFrame(BitmapConverter::kKindBitmap, view, c.file.data(), c.file.size());
    c.file.resize(static_cast<std::size_t>(std::max(bytes, 0)));
    c.width = converter.Width();
    c.height = converter.Height();
    return c;
}

// The bitmap's pixels in reading order: top row first, padding dropped.
std::vector<std::uint8_t> pixelsTopDown(const Converted& c) {
    const std::size_t rowBytes = (3 * static_cast<std::size_t>(c.width) + 3) & ~std::size_t{3};
    std::vector<std::uint8_t> out;
    for (int r = c.height - 1; r >= 0; --r) {
        const auto row = c.file.begin() + 54 + static_cast<std::ptrdiff_t>(rowBytes) * r;
        out.insert(out.end(), row, row + 3 * c.width);
    }
    return out;
}

std::uint64_t fnv1a(const std::vector<std::uint8_t>& bytes) {
    std::uint64_t h = 1469598103934665603ull;
    for (std::uint8_t b : bytes) {
        h ^= b;
        h *= 1099511628211ull;
    }
    return h;
}

struct Mode {
    const char* name;
    int chromaFormat;
    bool progressive;
    bool mpeg2;
};

constexpr Mode kModes[] = {
    {"4:2:0 interlaced MPEG-2", 1, false, true},
    {"4:2:0 progressive MPEG-2", 1, true, true},
    {"4:2:0 progressive MPEG-1", 1, true, false},
    {"4:2:2 MPEG-2", 2, true, true},
};

TEST(BitmapGolden, EveryFilterMatchesItsTapsSampleBySample) {
    // 40 x 24: the chroma is 20 x 12, so every filter reaches both edges and
    // the middle; a field holds 6 chroma rows.
    for (const Mode& mode : kModes) {
        SCOPED_TRACE(mode.name);
        const NoiseFrame frame(40, 24, mode.chromaFormat, mode.progressive, mode.mpeg2, 7);
        const Converted c = convert(frame.view);
        ASSERT_EQ(c.width, 40);
        ASSERT_EQ(c.height, 24);
        const std::vector<std::uint8_t> ours = pixelsTopDown(c);
        const std::vector<std::uint8_t> expected = referencePixels(frame, 40, 24);
        ASSERT_EQ(ours.size(), expected.size());
        for (std::size_t i = 0; i < ours.size(); ++i) {
            const int pixel = static_cast<int>(i / 3);
            ASSERT_EQ(ours[i], expected[i])
                << "row " << pixel / 40 << " column " << pixel % 40 << " byte " << i % 3;
        }
    }
}

TEST(BitmapGolden, FieldsOfAnInterlacedFrameNeverMix) {
    // The bottom field's chroma is all 255, the top field's all 0: with the
    // field filter every top row stays pure, every bottom row too; the
    // progressive filter would mix them at every row.
    NoiseFrame frame(16, 32, 1, false, true, 3);
    for (int row = 0; row < 16; ++row)
        std::fill_n(frame.cr.begin() + row * 8, 8, static_cast<std::uint8_t>(row % 2 ? 255 : 0));
    std::fill(frame.cb.begin(), frame.cb.end(), std::uint8_t{128});
    std::fill(frame.y.begin(), frame.y.end(), std::uint8_t{128});
    const std::vector<std::uint8_t> pixels = pixelsTopDown(convert(frame.view));
    const std::uint8_t topRed = pixels[2];
    const std::uint8_t bottomRed = pixels[3 * 16 + 2];
    EXPECT_LT(topRed, bottomRed);
    for (int row = 0; row < 32; ++row)
        for (int x = 0; x < 16; ++x)
            EXPECT_EQ(pixels[static_cast<std::size_t>(3 * (row * 16 + x) + 2)],
                      row % 2 ? bottomRed : topRed)
                << row << "," << x;
}

TEST(BitmapGolden, WholeFilesKeepTheirBytes) {
    // The file images of a 720 x 576 and an odd-sized frame, hashed: header,
    // padding and every pixel. A change here changes every saved picture.
    struct Golden {
        Mode mode;
        int width, height;
        std::uint64_t hash;
    };
    const Golden goldens[] = {
        {kModes[0], 720, 576, 0x1f1a47bf2bef7be0ull},
        {kModes[1], 702, 289, 0x7aaf9d7ac581617bull},
        {kModes[2], 352, 288, 0x2d80387c1099c744ull},
        {kModes[3], 720, 576, 0x5c67799e04ba7759ull},
    };
    for (const Golden& g : goldens) {
        SCOPED_TRACE(g.mode.name);
        const NoiseFrame frame(g.width, g.height, g.mode.chromaFormat, g.mode.progressive,
                               g.mode.mpeg2, 11);
        const std::uint64_t hash = fnv1a(convert(frame.view).file);
        EXPECT_EQ(hash, g.hash) << std::hex << hash;
    }
}

}  // namespace
