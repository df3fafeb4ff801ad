#pragma once
// The millisecond tick counter used for progress throttling, data rates and
// job durations. Tests install their own clock.

#include <cstdint>
#include <functional>

namespace platform {

std::uint64_t TickCount();                                      // milliseconds of a monotonic clock
void SetClockForTesting(std::function<std::uint64_t()> clock);  // empty: the real clock

}  // namespace platform
