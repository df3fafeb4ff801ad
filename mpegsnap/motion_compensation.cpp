#include "mpegsnap/motion_compensation.h"

#include <algorithm>

namespace mpegsnap {

namespace {
enum HalfSample { kFull = 0, kRight = 1, kDown = 2, kBoth = 3 };

template <int kHalf, bool kAverage>
void predictLoop(std::uint8_t* dst, std::ptrdiff_t dstStride, const std::uint8_t* src,
                 std::ptrdiff_t srcStride, int w, int h) {
    for (int y = 0; y < h; ++y, dst += dstStride, src += srcStride) {
        for (int x = 0; x < w; ++x) {
            int value;
            if constexpr (kHalf == kFull) {
                value = src[x];
            } else if constexpr (kHalf == kRight) {
                value = (src[x] + src[x + 1] + 1) >> 1;
            } else if constexpr (kHalf == kDown) {
                value = (src[x] + src[x + srcStride] + 1) >> 1;
            } else {
                value =
                    (src[x] + src[x + 1] + src[x + srcStride] + src[x + srcStride + 1] + 2) >> 2;
            }
            if constexpr (kAverage) value = (dst[x] + value + 1) >> 1;
            dst[x] = static_cast<std::uint8_t>(value);
        }
    }
}

template <bool kAverage>
void predictByHalf(int half, std::uint8_t* dst, std::ptrdiff_t dstStride, const std::uint8_t* src,
                   std::ptrdiff_t srcStride, int w, int h) {
    switch (half) {
        case kFull:
            predictLoop<kFull, kAverage>(dst, dstStride, src, srcStride, w, h);
            break;
        case kRight:
            predictLoop<kRight, kAverage>(dst, dstStride, src, srcStride, w, h);
            break;
        case kDown:
            predictLoop<kDown, kAverage>(dst, dstStride, src, srcStride, w, h);
            break;
        default:
            predictLoop<kBoth, kAverage>(dst, dstStride, src, srcStride, w, h);
            break;
    }
}

// Integer position and half-sample flag of one vector component, clamped
// so that the block and its interpolation neighbour lie inside the plane.
void clampComponent(int position, int vector, int size, int limit, int& integer, int& half) {
    integer = position + (vector >> 1);
    half = vector & 1;
    if (integer < 0) {
        integer = 0;
        half = 0;
    }
    if (integer + size + half > limit) {
        integer = std::max(0, std::min(integer, limit - size));
        half = 0;
    }
}
}  // namespace

void MotionCompensation::PredictBlock(const PlaneView& dst, const PlaneView& ref, int x, int y,
                                      int w, int h, int mvx, int mvy, bool average) {
    if (w > ref.width || h > ref.height || x < 0 || y < 0 || x + w > dst.width ||
        y + h > dst.height)
        return;
    int ix, hx, iy, hy;
    clampComponent(x, mvx, w, ref.width, ix, hx);
    clampComponent(y, mvy, h, ref.height, iy, hy);
    std::uint8_t* out = dst.data + y * dst.stride + x;
    const std::uint8_t* src = ref.data + iy * ref.stride + ix;
    const int half = hx | (hy << 1);
    if (average)
        predictByHalf<true>(half, out, dst.stride, src, ref.stride, w, h);
    else
        predictByHalf<false>(half, out, dst.stride, src, ref.stride, w, h);
}

void MotionCompensation::Predict(const FrameBuffer& ref, int refField, const FrameBuffer& dst,
                                 int dstField, int chromaFormat, int x, int y, int w, int h,
                                 int mvx, int mvy, bool average) {
    PredictBlock(dst.Plane(0, dstField), ref.Plane(0, refField), x, y, w, h, mvx, mvy, average);
    // Chroma vectors are the luma vectors scaled to the chroma grid, the
    // division truncating toward zero.
    int cx = x, cy = y, cw = w, ch = h, cmvx = mvx, cmvy = mvy;
    if (chromaFormat != 3) {
        cx /= 2;
        cw /= 2;
        cmvx /= 2;
    }
    if (chromaFormat == 1) {
        cy /= 2;
        ch /= 2;
        cmvy /= 2;
    }
    for (int plane = 1; plane < 3; ++plane)
        PredictBlock(dst.Plane(plane, dstField), ref.Plane(plane, refField), cx, cy, cw, ch, cmvx,
                     cmvy, average);
}

}  // namespace mpegsnap
