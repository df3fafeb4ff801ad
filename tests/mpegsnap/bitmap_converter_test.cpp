// The bitmap file image: header, row layout, colour conversion and chroma
// interpolation.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "mpegsnap/bitmap_converter.h"

using mpegsnap::BitmapConverter;
using mpegsnap::FrameView;

namespace {

// A frame with planes filled by value, laid out tightly.
struct TestFrame {
    std::vector<std::uint8_t> y, cb, cr;
    FrameView view;

    TestFrame(int width, int height, int chromaFormat, int luma, int blue, int red,
              bool progressive = true, bool mpeg2 = true) {
        const int chromaWidth = chromaFormat == 3 ? width : (width + 1) / 2;
        const int chromaHeight = chromaFormat == 1 ? (height + 1) / 2 : height;
        y.assign(static_cast<std::size_t>(width) * height, static_cast<std::uint8_t>(luma));
        cb.assign(static_cast<std::size_t>(chromaWidth) * chromaHeight,
                  static_cast<std::uint8_t>(blue));
        cr.assign(cb.size(), static_cast<std::uint8_t>(red));
        view.y = y.data();
        view.cb = cb.data();
        view.cr = cr.data();
        view.lumaStride = width;
        view.chromaStride = chromaWidth;
        view.width = width;
        view.height = height;
        view.chromaFormat = chromaFormat;
        view.progressiveFrame = progressive;
        view.mpeg2 = mpeg2;
    }
};

std::uint32_t le32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) |
           (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

std::vector<std::uint8_t> convert(const FrameView& view, int* size = nullptr) {
    BitmapConverter converter;
    std::vector<std::uint8_t> buffer(
        static_cast<std::size_t>(view.width + 2) * (view.height + 2) * 3 + 4096);
    const int bytes =
        converter.ConvertFrame(BitmapConverter::kKindBitmap, view, buffer.data(), buffer.size());
    if (size) *size = bytes;
    buffer.resize(static_cast<std::size_t>(std::max(bytes, 0)));
    return buffer;
}

// B, G, R of bitmap row r counted from the top of the picture.
const std::uint8_t* pixel(const std::vector<std::uint8_t>& bmp, int x, int rowFromTop) {
    const int width = static_cast<int>(le32(bmp, 18));
    const int height = static_cast<int>(le32(bmp, 22));
    const std::size_t rowBytes = (3 * static_cast<std::size_t>(width) + 3) & ~std::size_t{3};
    return bmp.data() + 54 + rowBytes * static_cast<std::size_t>(height - 1 - rowFromTop) + 3 * x;
}

TEST(BitmapConverter, FullSdFrameHeaderAndSize) {
    TestFrame frame(720, 576, 1, 128, 128, 128, false);
    int size = 0;
    const std::vector<std::uint8_t> bmp = convert(frame.view, &size);
    ASSERT_EQ(size, 1244214);
    EXPECT_EQ(bmp[0], 'B');
    EXPECT_EQ(bmp[1], 'M');
    EXPECT_EQ(le32(bmp, 2), 1244214u);
    EXPECT_EQ(le32(bmp, 6), 0u);
    EXPECT_EQ(le32(bmp, 10), 54u);
    EXPECT_EQ(le32(bmp, 14), 40u);
    EXPECT_EQ(le32(bmp, 18), 720u);
    EXPECT_EQ(le32(bmp, 22), 576u);
    EXPECT_EQ(bmp[26] | (bmp[27] << 8), 1);
    EXPECT_EQ(bmp[28] | (bmp[29] << 8), 24);
    EXPECT_EQ(le32(bmp, 30), 0u);
    EXPECT_EQ(le32(bmp, 34), 1244160u);
    EXPECT_EQ(le32(bmp, 38), 200u);
    EXPECT_EQ(le32(bmp, 42), 200u);
    EXPECT_EQ(le32(bmp, 46), 0u);
    EXPECT_EQ(le32(bmp, 50), 0u);
    // Mid-grey is 130 in every channel.
    EXPECT_TRUE(std::all_of(bmp.begin() + 54, bmp.end(), [](std::uint8_t v) { return v == 130; }));
}

TEST(BitmapConverter, GreyBlackAndWhiteUnderEveryCoefficientSet) {
    for (int set = 0; set <= 9; ++set) {
        for (const auto& [luma, expected] : {std::pair{128, 130}, {16, 0}, {235, 255}}) {
            TestFrame frame(32, 16, 1, luma, 128, 128);
            frame.view.matrixCoefficients = set;
            const std::vector<std::uint8_t> bmp = convert(frame.view);
            ASSERT_FALSE(bmp.empty());
            const std::uint8_t* p = pixel(bmp, 5, 7);
            EXPECT_EQ(p[0], expected) << "set " << set << " Y " << luma;
            EXPECT_EQ(p[1], expected);
            EXPECT_EQ(p[2], expected);
        }
    }
}

TEST(BitmapConverter, RowsArePaddedToFourBytes) {
    TestFrame frame(702, 576, 1, 200, 90, 160, false);
    int size = 0;
    const std::vector<std::uint8_t> bmp = convert(frame.view, &size);
    const std::size_t rowBytes = 2108;  // 2106 pixel bytes and 2 of padding
    ASSERT_EQ(static_cast<std::size_t>(size), 54 + rowBytes * 576);
    EXPECT_EQ(le32(bmp, 18), 702u);
    for (int row = 0; row < 576; row += 97) {
        EXPECT_EQ(bmp[54 + rowBytes * row + 2106], 0);
        EXPECT_EQ(bmp[54 + rowBytes * row + 2107], 0);
        EXPECT_NE(bmp[54 + rowBytes * row + 2105], 0);
    }
}

TEST(BitmapConverter, OddHeightInterlacedDropsTheLastLine) {
    TestFrame frame(64, 1089, 1, 128, 128, 128, false);
    const std::vector<std::uint8_t> bmp = convert(frame.view);
    EXPECT_EQ(le32(bmp, 22), 1088u);
    TestFrame progressive(64, 1089, 1, 128, 128, 128, true);
    EXPECT_EQ(le32(convert(progressive.view), 22), 1088u);
    TestFrame twoLines(64, 6, 1, 128, 128, 128, false);  // 3 chroma rows: rounded to 2
    EXPECT_EQ(le32(convert(twoLines.view), 22), 4u);
}

// R, G, B of one colour by coefficient set, as the fixed-point conversion
// defines it.
std::array<int, 3> rgb(int y, int cb, int cr, int crv, int cbu, int cgu, int cgv) {
    const int luma = 76309 * (y - 16);
    auto clip = [](int v) { return std::clamp(v, 0, 255); };
    return {clip((crv * (cr - 128) + luma + 32768) >> 16),
            clip((luma - cgu * (cb - 128) - cgv * (cr - 128) + 32768) >> 16),
            clip((cbu * (cb - 128) + luma + 32768) >> 16)};
}

TEST(BitmapConverter, CoefficientSetsByMatrixCoefficients) {
    struct Expect {
        int matrix;
        std::array<int, 3> colour;
    };
    const Expect cases[] = {
        {0, rgb(100, 90, 170, 117504, 138453, 13954, 34903)},
        {1, rgb(100, 90, 170, 117504, 138453, 13954, 34903)},
        {4, rgb(100, 90, 170, 104448, 132798, 24759, 53109)},
        {5, rgb(100, 90, 170, 104597, 132201, 25675, 53279)},
        {7, rgb(100, 90, 170, 117579, 136230, 16907, 35559)},
        // Reserved values take the set of 5.
        {8, rgb(100, 90, 170, 104597, 132201, 25675, 53279)},
        {255, rgb(100, 90, 170, 104597, 132201, 25675, 53279)},
    };
    for (const Expect& c : cases) {
        TestFrame frame(16, 16, 3, 100, 90, 170);
        frame.view.matrixCoefficients = c.matrix;
        const std::vector<std::uint8_t> bmp = convert(frame.view);
        const std::uint8_t* p = pixel(bmp, 3, 3);
        EXPECT_EQ(p[2], c.colour[0]) << c.matrix;
        EXPECT_EQ(p[1], c.colour[1]) << c.matrix;
        EXPECT_EQ(p[0], c.colour[2]) << c.matrix;
    }
    // The 709 and 601 sets really differ on this colour.
    EXPECT_NE(cases[0].colour, cases[3].colour);
}

TEST(BitmapConverter, Mpeg2HorizontalFilterKeepsCositedSamplesAndInterpolatesRamps) {
    // 4:2:2, Y fixed; Cr rises by 8 per chroma column, Cb neutral.
    TestFrame frame(32, 4, 2, 128, 128, 128);
    for (int row = 0; row < 4; ++row)
        for (int j = 0; j < 16; ++j)
            frame.cr[static_cast<std::size_t>(row * 16 + j)] =
                static_cast<std::uint8_t>(60 + 8 * j);
    frame.view.matrixCoefficients = 5;
    const std::vector<std::uint8_t> bmp = convert(frame.view);
    for (int x = 4; x < 26; ++x) {
        // Even columns carry the chroma sample, odd ones the midpoint.
        const int cr = 60 + 4 * x;
        EXPECT_EQ(pixel(bmp, x, 1)[2], rgb(128, 128, cr, 104597, 132201, 25675, 53279)[0]) << x;
    }
}

TEST(BitmapConverter, InterlacedChromaKeepsFieldsApart) {
    // Chroma rows alternate between two colours, one per field: the field
    // filter keeps each field's colour, the progressive filter mixes them.
    TestFrame frame(16, 32, 1, 128, 128, 128, false);
    for (int row = 0; row < 16; ++row)
        std::fill_n(frame.cr.begin() + row * 8, 8, static_cast<std::uint8_t>(row % 2 ? 200 : 60));
    const std::vector<std::uint8_t> interlaced = convert(frame.view);
    const int red60 = rgb(128, 128, 60, 117504, 138453, 13954, 34903)[0];
    const int red200 = rgb(128, 128, 200, 117504, 138453, 13954, 34903)[0];
    for (int row = 0; row < 32; ++row)
        EXPECT_EQ(pixel(interlaced, 4, row)[2], row % 2 ? red200 : red60) << row;

    frame.view.progressiveFrame = true;
    const std::vector<std::uint8_t> progressive = convert(frame.view);
    EXPECT_NE(pixel(progressive, 4, 10)[2], red60);
}

TEST(BitmapConverter, Mpeg1FilterSmoothsTheChromaGrid) {
    // MPEG-1 chroma sits between luma samples: no column keeps a chroma
    // sample unchanged next to a step, unlike the MPEG-2 filter.
    TestFrame frame(32, 32, 1, 128, 128, 128, true, false);
    for (int row = 0; row < 16; ++row)
        for (int j = 0; j < 16; ++j)
            frame.cr[static_cast<std::size_t>(row * 16 + j)] = j < 8 ? 60 : 200;
    const std::vector<std::uint8_t> mpeg1 = convert(frame.view);
    frame.view.mpeg2 = true;
    const std::vector<std::uint8_t> mpeg2 = convert(frame.view);
    const int red60 = rgb(128, 128, 60, 117504, 138453, 13954, 34903)[0];
    EXPECT_EQ(pixel(mpeg2, 14, 10)[2], red60);  // column 14 carries chroma sample 7
    EXPECT_NE(pixel(mpeg1, 14, 10)[2], red60);
    // Far from the step both agree.
    EXPECT_EQ(pixel(mpeg1, 2, 10)[2], red60);
}

TEST(BitmapConverter, RefusesWhatItCannotConvert) {
    BitmapConverter converter;
    TestFrame frame(16, 16, 1, 128, 128, 128);
    std::vector<std::uint8_t> buffer(54 + 16 * 16 * 3);
    EXPECT_EQ(converter.ConvertFrame(4, frame.view, buffer.data(), buffer.size()), 0);
    EXPECT_EQ(converter.Error(), -3);
    frame.view.chromaFormat = 0;
    EXPECT_EQ(converter.ConvertFrame(5, frame.view, buffer.data(), buffer.size()), 0);
    EXPECT_EQ(converter.Error(), -9);
    frame.view.chromaFormat = 1;
    EXPECT_EQ(converter.ConvertFrame(5, frame.view, buffer.data(), buffer.size() - 1), 0);
    EXPECT_EQ(converter.Error(), -3);
    EXPECT_EQ(converter.ConvertFrame(5, frame.view, buffer.data(), buffer.size()),
              static_cast<int>(buffer.size()));
    EXPECT_EQ(converter.Error(), 0);
}

}  // namespace
