#include "app/cut_span.h"

#include <cstdio>

std::optional<FrameRate> FrameRateFromCode(int code) {
    switch (code) {
        case 1:
            return FrameRate{24000, 1001};
        case 2:
            return FrameRate{24, 1};
        case 3:
            return FrameRate{25, 1};
        case 4:
            return FrameRate{30000, 1001};
        case 5:
            return FrameRate{30, 1};
        case 6:
            return FrameRate{50, 1};
        case 7:
            return FrameRate{60000, 1001};
        case 8:
            return FrameRate{60, 1};
        default:
            return std::nullopt;
    }
}

std::int64_t FrameTicks(std::int64_t frame, const FrameRate& rate) {
    return frame * kTicksPerSecond * rate.den / rate.num;
}

std::int64_t FrameSearchTicks(std::int64_t frame, const FrameRate& rate) {
    if (frame <= 0) return 0;
    return (2 * frame - 1) * kTicksPerSecond * rate.den / (2 * rate.num);
}

std::int64_t NearestFrame(std::int64_t ticks, const FrameRate& rate) {
    if (ticks <= 0) return 0;
    const std::int64_t perFrame = kTicksPerSecond * rate.den;  // ticks * num per frame
    return (ticks * rate.num * 2 + perFrame) / (2 * perFrame);
}

std::string FrameRateText(const FrameRate& rate) {
    const std::int64_t hundredths = (rate.num * 100 * 1000 / rate.den + 500) / 1000;
    char text[32];
    if (hundredths % 100 == 0)
        std::snprintf(text, sizeof text, "%lld", static_cast<long long>(hundredths / 100));
    else
        std::snprintf(text, sizeof text, "%.2f", static_cast<double>(rate.num) / rate.den);
    return text;
}

bool SplitCutFileLines(const std::string& text, std::vector<std::string>& lines) {
    lines.clear();
    if (text.find('\0') != std::string::npos) return false;
    std::size_t at = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        at = end + 1;
    }
    return true;
}

std::string LineError(std::size_t index, const std::string& what) {
    return "line " + std::to_string(index + 1) + ": " + what;
}

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return std::string();
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}
