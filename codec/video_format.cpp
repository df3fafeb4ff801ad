#include "codec/video_format.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace codec {

Ratio Reduced(std::int64_t num, std::int64_t den) {
    if (num <= 0 || den <= 0) return {};
    const std::int64_t g = std::gcd(num, den);
    num /= g;
    den /= g;
    // Ratios of stream values stay within int once reduced; anything larger
    // is damage.
    if (num > 0x7FFFFFFF || den > 0x7FFFFFFF) return {};
    return {static_cast<int>(num), static_cast<int>(den)};
}

void VideoFormat::SetPicture(int pictureWidth, int pictureHeight, Ratio sar) {
    width = pictureWidth;
    height = pictureHeight;
    sampleAspect = sar;
    displayAspect = DisplayAspect(width, height, sar);
    aspectCode = AspectCodeOf(displayAspect, sar.Known() ? sar : Ratio{1, 1});
}

Ratio DisplayAspect(int width, int height, Ratio sar) {
    if (width <= 0 || height <= 0) return {};
    if (!sar.Known()) sar = {1, 1};
    return Reduced(static_cast<std::int64_t>(width) * sar.num,
                   static_cast<std::int64_t>(height) * sar.den);
}

int AspectCodeOf(Ratio dar, Ratio sar) {
    if (!dar.Known()) return 0;
    const double value = static_cast<double>(dar.num) / dar.den;
    auto near = [value](double target) { return std::fabs(value / target - 1.0) < 0.01; };
    if (near(4.0 / 3.0)) return 2;
    if (near(16.0 / 9.0)) return 3;
    if (near(2.21)) return 4;
    if (sar.Known() && sar.num == sar.den) return 1;
    return 0;
}

Ratio SampleAspectOfIdc(int idc) {
    static constexpr Ratio kTable[17] = {
        {0, 0},   {1, 1},   {12, 11}, {10, 11}, {16, 11},  {40, 33}, {24, 11}, {20, 11}, {32, 11},
        {80, 33}, {18, 11}, {15, 11}, {64, 33}, {160, 99}, {4, 3},   {3, 2},   {2, 1}};
    if (idc < 1 || idc > 16) return {};
    return kTable[idc];
}

std::string RatioText(Ratio ratio, char separator) {
    if (!ratio.Known()) return {};
    return std::to_string(ratio.num) + separator + std::to_string(ratio.den);
}

std::array<std::uint8_t, 12> SequenceHeaderBytes(const VideoFormat& f) {
    const int w = std::clamp(f.width, 0, 4095);
    const int h = std::clamp(f.height, 0, 4095);
    return {0x00,
            0x00,
            0x01,
            0xB3,
            static_cast<std::uint8_t>(w >> 4),
            static_cast<std::uint8_t>(((w & 15) << 4) | (h >> 8)),
            static_cast<std::uint8_t>(h),
            static_cast<std::uint8_t>(f.aspectCode << 4),
            0,
            0,
            0,
            0};
}

}  // namespace codec
