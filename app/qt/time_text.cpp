#include "app/qt/time_text.h"

#include <algorithm>

#include "shell/text.h"

namespace {
constexpr std::int64_t kTicksPerMs = 90;  // the 90 kHz system clock
}

std::string MillisecondsText(std::int64_t ms) {
    ms = std::max<std::int64_t>(ms, 0);
    return FormatString("%lld:%02lld:%02lld.%03lld", static_cast<long long>(ms / 3600000),
                        static_cast<long long>(ms / 60000 % 60),
                        static_cast<long long>(ms / 1000 % 60), static_cast<long long>(ms % 1000));
}

std::string StampText(std::int64_t stamp, std::int64_t first) {
    return MillisecondsText((stamp - first) / kTicksPerMs);
}

std::string CutAreaRowText(const std::string& label, std::size_t index, std::int64_t startStamp,
                           std::int64_t endStamp, bool enabled, std::int64_t first) {
    std::string row = label + " " + std::to_string(index + 1);
    // A fresh area has no marks yet; an area with equal marks has its start only.
    if (startStamp == 0 && endStamp == 0) return row;
    row += "   " + StampText(startStamp, first) + " -";
    if (!enabled) return row;
    // An end mark with no stamp closes the area at the end of the recording
    // (no picture lies after the last random-access point).
    if (endStamp == 0) return row + " end";
    row += " " + StampText(endStamp, first) + "  (" +
           MillisecondsText((endStamp - startStamp) / kTicksPerMs) + ")";
    return row;
}
