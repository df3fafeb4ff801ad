#pragma once
// Turns one decoded frame into a 24-bit Windows bitmap file image: chroma
// interpolated to full resolution, YCbCr to RGB by the stream's matrix
// coefficients, rows bottom-up in B, G, R order behind a 54-byte header.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace mpegsnap {

// The planes of a frame as the converter reads them.
struct FrameView {
    const std::uint8_t* y = nullptr;
    const std::uint8_t* cb = nullptr;
    const std::uint8_t* cr = nullptr;
    std::ptrdiff_t lumaStride = 0;
    std::ptrdiff_t chromaStride = 0;
    int width = 0;         // horizontal_size
    int height = 0;        // vertical_size
    int chromaFormat = 1;  // 1 4:2:0, 2 4:2:2, 3 4:4:4
    int matrixCoefficients = 0;
    bool progressiveFrame = true;
    bool mpeg2 = true;
};

class BitmapConverter {
  public:
    static constexpr int kKindBitmap = 5;
    static constexpr int kHeaderSize = 54;

    // Writes the image of the given kind into buffer (capacity bytes) and
    // gives its size, or 0 with Error() set: -3 unknown kind or too small a
    // buffer, -5 out of memory, -9 chroma format not 1, 2 or 3.
    int ConvertFrame(int kind, const FrameView& frame, std::uint8_t* buffer, std::size_t capacity);

    int Error() const { return m_error; }
    int Width() const { return m_width; }  // of the last bitmap
    int Height() const { return m_height; }

    // Bitmap width and height for a frame: chroma subsampling rounds the
    // sizes down to even values.
    static void BitmapSize(const FrameView& frame, int& width, int& height);

  private:
    bool Reserve(std::size_t samples);
    void UpsampleChroma(const std::uint8_t* source, int width, int height, int bitmapHeight,
                        const FrameView& frame, std::vector<std::uint8_t>& out);
    void WriteRows(const FrameView& frame, const std::uint8_t* cb, const std::uint8_t* cr,
                   std::ptrdiff_t chromaStride, std::uint8_t* pixels) const;

    std::vector<std::uint8_t> m_cb;
    std::vector<std::uint8_t> m_cr;
    std::vector<std::uint8_t> m_work;
    std::size_t m_capacity = 0;
    int m_error = 0;
    int m_width = 0;
    int m_height = 0;
};

}  // namespace mpegsnap
