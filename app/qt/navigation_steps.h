#pragma once
// The step sizes of the cut editor's navigation, in 512-byte sectors. The
// small steps follow the average bit rate ((kbit/s / 8) sectors is about half
// a second); holding a seek button grows the steps as 2^(n/5) with the repeat
// count n.

#include <cstdint>

namespace nav {

constexpr std::uint64_t kSmallStepCap = 30000;
constexpr std::uint64_t kLargeStep = 30000;
constexpr std::uint64_t kLargeStepCap = 600000;
constexpr std::uint64_t kLargeBackExtra = 192;
constexpr std::uint64_t kForwardNudge = 64;
// 2^20 times the smallest step is far beyond every cap; a larger exponent
// would only overflow.
constexpr int kMaxExponent = 20;

// 2^(|n| / 5), the exponent capped.
std::uint64_t GrowthFactor(std::int64_t n);

// The small steps: with Ctrl the last bit-rate step times the growth factor,
// else the bit-rate step, which becomes the last small step.
std::uint64_t SmallBackwardStep(std::int64_t n, bool ctrl, std::int32_t bitRate,
                                std::uint32_t& lastSmallStep);
std::uint64_t SmallForwardStep(std::int64_t n, bool ctrl, std::int32_t bitRate,
                               std::uint32_t& lastSmallStep);
// Where the large steps land.
std::uint64_t LargeBackwardTarget(std::uint64_t position, std::int64_t n, bool ctrl);
std::uint64_t LargeForwardTarget(std::uint64_t position, std::int64_t n, bool ctrl,
                                 std::uint64_t total);
// Where a wheel turn with Ctrl (10 s) or Shift (100 s) lands.
std::uint64_t WheelTarget(std::uint64_t position, int delta, bool shift, std::int32_t bitRate,
                          std::uint64_t total);

}  // namespace nav
