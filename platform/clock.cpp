#include "platform/clock.h"

#include <chrono>
#include <utility>

namespace platform {

namespace {
std::function<std::uint64_t()>& testClock() {
    static std::function<std::uint64_t()> clock;
    return clock;
}
}  // namespace

std::uint64_t TickCount() {
    if (testClock()) return testClock()();
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void SetClockForTesting(std::function<std::uint64_t()> clock) {
    testClock() = std::move(clock);
}

}  // namespace platform
