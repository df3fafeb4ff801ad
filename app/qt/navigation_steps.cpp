#include "app/qt/navigation_steps.h"

#include <algorithm>

namespace nav {

namespace {
std::uint64_t Magnitude(std::int64_t n) {
    // |INT64_MIN| does not fit; it is far beyond any cap anyway.
    return n < 0 ? static_cast<std::uint64_t>(-(n + 1)) + 1 : static_cast<std::uint64_t>(n);
}

std::uint64_t BitRateSectors(std::int32_t bitRate) {
    return bitRate > 0 ? static_cast<std::uint64_t>(bitRate / 8) : 0;
}
}  // namespace

std::uint64_t GrowthFactor(std::int64_t n) {
    const std::uint64_t exponent = std::min<std::uint64_t>(Magnitude(n) / 5, kMaxExponent);
    return std::uint64_t{1} << exponent;
}

std::uint64_t SmallBackwardStep(std::int64_t n, bool ctrl, std::int32_t bitRate,
                                std::uint32_t& lastSmallStep) {
    if (ctrl) return std::min(lastSmallStep * GrowthFactor(n), kSmallStepCap);
    const auto step =
        static_cast<std::uint64_t>(static_cast<double>(BitRateSectors(bitRate)) * 1.1);
    lastSmallStep = static_cast<std::uint32_t>(std::min<std::uint64_t>(step, UINT32_MAX));
    return step;
}

std::uint64_t SmallForwardStep(std::int64_t n, bool ctrl, std::int32_t bitRate,
                               std::uint32_t& lastSmallStep) {
    std::uint64_t step;
    if (ctrl) {
        step = lastSmallStep * GrowthFactor(n);
    } else {
        step = static_cast<std::uint64_t>(static_cast<double>(BitRateSectors(bitRate)) * 0.2);
        lastSmallStep = static_cast<std::uint32_t>(std::min<std::uint64_t>(step, UINT32_MAX));
    }
    return std::min(step, kSmallStepCap);
}

std::uint64_t LargeBackwardTarget(std::uint64_t position, std::int64_t n, bool ctrl) {
    if (n == 0) n = 1;
    const std::uint64_t m =
        n > 0 ? GrowthFactor(n) : std::min<std::uint64_t>(Magnitude(n), 1 << kMaxExponent);
    const std::uint64_t step = ctrl ? std::min(m * kLargeStep, kLargeStepCap) : kLargeStep;
    return position > step + kLargeBackExtra ? position - (step + kLargeBackExtra) : 0;
}

std::uint64_t LargeForwardTarget(std::uint64_t position, std::int64_t n, bool ctrl,
                                 std::uint64_t total) {
    if (n == 0) n = 1;
    const std::uint64_t m =
        n >= 1 ? GrowthFactor(n) : std::min<std::uint64_t>(Magnitude(n), 1 << kMaxExponent);
    const std::uint64_t step = std::min(ctrl ? m * kLargeStep : kLargeStep, kLargeStepCap);
    std::uint64_t target = position + step;
    if (target >= total) target = total > 0 ? total - 1 : 0;
    return target;
}

std::uint64_t WheelTarget(std::uint64_t position, int delta, bool shift, std::int32_t bitRate,
                          std::uint64_t total) {
    const std::uint64_t seconds = shift ? 100 : 10;
    const std::uint64_t rate = bitRate > 0 ? static_cast<std::uint64_t>(bitRate) : 0;
    // kbit/s * 125 is bytes per second.
    const std::uint64_t step = rate * 125 * seconds / 512;
    std::uint64_t target;
    if (delta >= 0)  // turned away from the user: backward
        target = step >= position ? 0 : position - step;
    else
        target = position + step;
    if (target >= total) target = total > 0 ? total - 1 : 0;
    return target;
}

}  // namespace nav
