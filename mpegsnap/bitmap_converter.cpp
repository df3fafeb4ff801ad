#include "mpegsnap/bitmap_converter.h"

#include <algorithm>
#include <array>
#include <new>

namespace mpegsnap {

namespace {
// Colour conversion coefficients (16.16 fixed point) by matrix_coefficients:
// crv, cbu, cgu, cgv.
constexpr int kCoefficients[8][4] = {
    {117504, 138453, 13954, 34903}, {117504, 138453, 13954, 34903}, {104597, 132201, 25675, 53279},
    {104597, 132201, 25675, 53279}, {104448, 132798, 24759, 53109}, {104597, 132201, 25675, 53279},
    {104597, 132201, 25675, 53279}, {117579, 136230, 16907, 35559}};
// Values outside the table are reserved; they get the ITU-R BT.601 set.
constexpr int kDefaultCoefficientSet = 5;

// Maps -384..639 to 0..255.
struct ClipTable {
    std::array<std::uint8_t, 1024> values{};
    constexpr ClipTable() {
        for (int i = 0; i < 1024; ++i)
            values[static_cast<std::size_t>(i)] =
                static_cast<std::uint8_t>(i < 384 ? 0 : (i > 384 + 255 ? 255 : i - 384));
    }
    std::uint8_t operator()(int value) const {
        return values[static_cast<std::size_t>(value + 384)];
    }
};
constexpr ClipTable kClip;
const ClipTable& clip() {
    return kClip;
}

// Six-tap filter over samples s[i + first .. i + first + 5], stepping by
// step; near the ends the indices are clamped to 0..count-1.
inline std::uint8_t filter6Clamped(const std::uint8_t* s, std::ptrdiff_t step, int count, int i,
                                   int first, const int* taps) {
    int sum = 128;
    for (int k = 0; k < 6; ++k)
        sum += taps[k] * s[std::clamp(i + first + k, 0, count - 1) * step];
    return clip()(sum >> 8);
}

// The same inside the row or column, where no index needs clamping.
inline std::uint8_t filter6(const std::uint8_t* p, std::ptrdiff_t step, const int* taps) {
    const int sum = 128 + taps[0] * p[0] + taps[1] * p[step] + taps[2] * p[2 * step] +
                    taps[3] * p[3 * step] + taps[4] * p[4 * step] + taps[5] * p[5 * step];
    return clip()(sum >> 8);
}

// Whether the taps of output i reach outside 0..count-1 (taps from
// i - 3 to i + 3 at most).
inline bool nearEdge(int i, int count) {
    return i < 3 || i + 3 >= count;
}

// Horizontal 2:1 interpolation of one row of count samples.
void upsampleRow(const std::uint8_t* src, int count, std::uint8_t* dst, bool mpeg2) {
    static constexpr int kMpeg2Odd[6] = {21, -52, 159, 159, -52, 21};  // s[j-2] .. s[j+3]
    static constexpr int kMpeg1Even[6] = {5, -21, 70, 228, -37, 11};   // s[j-3] .. s[j+2]
    static constexpr int kMpeg1Odd[6] = {11, -37, 228, 70, -21, 5};    // s[j-2] .. s[j+3]
    for (int j = 0; j < count; ++j) {
        const bool edge = nearEdge(j, count);
        if (mpeg2) {
            dst[2 * j] = src[j];
            dst[2 * j + 1] = edge ? filter6Clamped(src, 1, count, j, -2, kMpeg2Odd)
                                  : filter6(src + j - 2, 1, kMpeg2Odd);
        } else if (edge) {
            dst[2 * j] = filter6Clamped(src, 1, count, j, -3, kMpeg1Even);
            dst[2 * j + 1] = filter6Clamped(src, 1, count, j, -2, kMpeg1Odd);
        } else {
            dst[2 * j] = filter6(src + j - 3, 1, kMpeg1Even);
            dst[2 * j + 1] = filter6(src + j - 2, 1, kMpeg1Odd);
        }
    }
}

// Vertical 2:1 interpolation of a progressive frame: rows rows of width
// samples into 2 * rows rows.
void upsampleProgressive(const std::uint8_t* src, std::ptrdiff_t stride, int width, int rows,
                         std::uint8_t* dst) {
    static constexpr int kEven[6] = {3, -16, 67, 227, -32, 7};  // s[i-3] .. s[i+2]
    static constexpr int kOdd[6] = {7, -32, 227, 67, -16, 3};   // s[i-2] .. s[i+3]
    for (int i = 0; i < rows; ++i) {
        std::uint8_t* even = dst + static_cast<std::ptrdiff_t>(2 * i) * width;
        std::uint8_t* odd = even + width;
        if (nearEdge(i, rows)) {
            for (int x = 0; x < width; ++x) {
                even[x] = filter6Clamped(src + x, stride, rows, i, -3, kEven);
                odd[x] = filter6Clamped(src + x, stride, rows, i, -2, kOdd);
            }
            continue;
        }
        const std::uint8_t* above3 = src + (i - 3) * stride;
        const std::uint8_t* above2 = src + (i - 2) * stride;
        for (int x = 0; x < width; ++x) {
            even[x] = filter6(above3 + x, stride, kEven);
            odd[x] = filter6(above2 + x, stride, kOdd);
        }
    }
}

// Vertical 2:1 interpolation of an interlaced frame, each field on its own:
// rows is even; field f holds the rows f, f + 2, ...
void upsampleInterlaced(const std::uint8_t* src, std::ptrdiff_t stride, int width, int rows,
                        std::uint8_t* dst) {
    static constexpr int kTop[2][6] = {{1, -7, 30, 248, -21, 5},     // f[k-3] .. f[k+2]
                                       {7, -35, 194, 110, -24, 4}};  // f[k-2] .. f[k+3]
    static constexpr int kBottom[2][6] = {{4, -24, 110, 194, -35, 7}, {5, -21, 248, 30, -7, 1}};
    const int fieldRows = rows / 2;
    for (int field = 0; field < 2; ++field) {
        const std::uint8_t* fieldSrc = src + field * stride;
        const auto& taps = field == 0 ? kTop : kBottom;
        for (int k = 0; k < fieldRows; ++k) {
            // Output field lines 2k and 2k + 1 are frame rows 4k + field and
            // 4k + 2 + field.
            std::uint8_t* first = dst + static_cast<std::ptrdiff_t>(4 * k + field) * width;
            std::uint8_t* second = first + 2 * static_cast<std::ptrdiff_t>(width);
            if (nearEdge(k, fieldRows)) {
                for (int x = 0; x < width; ++x) {
                    first[x] = filter6Clamped(fieldSrc + x, 2 * stride, fieldRows, k, -3, taps[0]);
                    second[x] = filter6Clamped(fieldSrc + x, 2 * stride, fieldRows, k, -2, taps[1]);
                }
                continue;
            }
            const std::uint8_t* above3 = fieldSrc + (k - 3) * 2 * stride;
            const std::uint8_t* above2 = fieldSrc + (k - 2) * 2 * stride;
            for (int x = 0; x < width; ++x) {
                first[x] = filter6(above3 + x, 2 * stride, taps[0]);
                second[x] = filter6(above2 + x, 2 * stride, taps[1]);
            }
        }
    }
}

void putLittleEndian(std::uint8_t* at, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}
}  // namespace

void BitmapConverter::BitmapSize(const FrameView& frame, int& width, int& height) {
    switch (frame.chromaFormat) {
        case 1: {
            int rows = frame.height >> 1;
            if (!frame.progressiveFrame) rows &= ~1;
            width = 2 * (frame.width >> 1);
            height = 2 * rows;
            break;
        }
        case 2:
            width = 2 * (frame.width >> 1);
            height = frame.height;
            break;
        default:
            width = frame.width;
            height = frame.height;
            break;
    }
}

bool BitmapConverter::Reserve(std::size_t samples) {
    if (samples <= m_capacity) return true;
    m_capacity = 0;
    try {
        for (auto* plane : {&m_cb, &m_cr, &m_work}) {
            plane->clear();
            plane->shrink_to_fit();
            plane->resize(samples);
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    m_capacity = samples;
    return true;
}

void BitmapConverter::UpsampleChroma(const std::uint8_t* source, int width, int height,
                                     int bitmapHeight, const FrameView& frame,
                                     std::vector<std::uint8_t>& out) {
    const std::ptrdiff_t stride = frame.chromaStride;
    const std::uint8_t* rows = source;
    std::ptrdiff_t rowStride = stride;
    if (frame.chromaFormat == 1) {
        const int sourceRows = bitmapHeight / 2;
        if (frame.progressiveFrame)
            upsampleProgressive(source, stride, width, sourceRows, m_work.data());
        else
            upsampleInterlaced(source, stride, width, sourceRows, m_work.data());
        rows = m_work.data();
        rowStride = width;
    }
    for (int r = 0; r < height; ++r)
        upsampleRow(rows + r * rowStride, width,
                    out.data() + static_cast<std::size_t>(r) * 2 * width, frame.mpeg2);
}

void BitmapConverter::WriteRows(const FrameView& frame, const std::uint8_t* cb,
                                const std::uint8_t* cr, std::ptrdiff_t chromaStride,
                                std::uint8_t* pixels) const {
    const int set = frame.matrixCoefficients >= 0 && frame.matrixCoefficients <= 7
                        ? frame.matrixCoefficients
                        : kDefaultCoefficientSet;
    const int crv = kCoefficients[set][0];
    const int cbu = kCoefficients[set][1];
    const int cgu = kCoefficients[set][2];
    const int cgv = kCoefficients[set][3];
    const ClipTable& table = clip();
    const std::size_t rowBytes = (3 * static_cast<std::size_t>(m_width) + 3) & ~std::size_t{3};
    std::uint8_t* out = pixels;
    for (int r = m_height - 1; r >= 0; --r, out += rowBytes) {
        const std::uint8_t* y = frame.y + r * frame.lumaStride;
        const std::uint8_t* u = cb + r * chromaStride;
        const std::uint8_t* v = cr + r * chromaStride;
        std::uint8_t* p = out;
        for (int x = 0; x < m_width; ++x, p += 3) {
            const int luma = 76309 * (y[x] - 16);
            const int blue = u[x] - 128;
            const int red = v[x] - 128;
            p[0] = table((cbu * blue + luma + 32768) >> 16);
            p[1] = table((luma - cgu * blue - cgv * red + 32768) >> 16);
            p[2] = table((crv * red + luma + 32768) >> 16);
        }
        std::fill(p, out + rowBytes, std::uint8_t{0});
    }
}

int BitmapConverter::ConvertFrame(int kind, const FrameView& frame, std::uint8_t* buffer,
                                  std::size_t capacity) {
    m_error = 0;
    if (kind != kKindBitmap) {
        m_error = -3;
        return 0;
    }
    if (frame.chromaFormat < 1 || frame.chromaFormat > 3) {
        m_error = -9;
        return 0;
    }
    int width = 0, height = 0;
    BitmapSize(frame, width, height);
    const std::size_t rowBytes = (3 * static_cast<std::size_t>(width) + 3) & ~std::size_t{3};
    const std::size_t pixelBytes = rowBytes * static_cast<std::size_t>(height);
    if (width <= 0 || height <= 0 || buffer == nullptr || kHeaderSize + pixelBytes > capacity) {
        m_error = -3;
        return 0;
    }
    m_width = width;
    m_height = height;

    const std::uint8_t* cb = frame.cb;
    const std::uint8_t* cr = frame.cr;
    std::ptrdiff_t chromaStride = frame.chromaStride;
    if (frame.chromaFormat != 3) {
        if (!Reserve(static_cast<std::size_t>(frame.width) *
                     static_cast<std::size_t>(frame.height))) {
            m_error = -5;
            return 0;
        }
        const int chromaWidth = frame.width >> 1;
        UpsampleChroma(frame.cb, chromaWidth, height, height, frame, m_cb);
        UpsampleChroma(frame.cr, chromaWidth, height, height, frame, m_cr);
        cb = m_cb.data();
        cr = m_cr.data();
        chromaStride = width;
    }
    WriteRows(frame, cb, cr, chromaStride, buffer + kHeaderSize);

    const auto fileSize = static_cast<std::uint32_t>(kHeaderSize + pixelBytes);
    std::fill(buffer, buffer + kHeaderSize, std::uint8_t{0});
    buffer[0] = 'B';
    buffer[1] = 'M';
    putLittleEndian(buffer + 2, fileSize, 4);
    putLittleEndian(buffer + 10, kHeaderSize, 4);
    putLittleEndian(buffer + 14, 40, 4);
    putLittleEndian(buffer + 18, static_cast<std::uint32_t>(width), 4);
    putLittleEndian(buffer + 22, static_cast<std::uint32_t>(height), 4);
    putLittleEndian(buffer + 26, 1, 2);
    putLittleEndian(buffer + 28, 24, 2);
    putLittleEndian(buffer + 34, static_cast<std::uint32_t>(pixelBytes), 4);
    putLittleEndian(buffer + 38, 200, 4);
    putLittleEndian(buffer + 42, 200, 4);
    return static_cast<int>(fileSize);
}

}  // namespace mpegsnap
