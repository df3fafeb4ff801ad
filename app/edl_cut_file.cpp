#include "app/edl_cut_file.h"

#include <cstdio>
#include <sstream>

namespace edl {
namespace {
constexpr int kCut = 0;
constexpr int kMute = 1;  // 2: scene marker
constexpr int kCommercialBreak = 3;
// Far beyond any recording (more than 11 days), and safe from overflow.
constexpr std::int64_t kMaxSeconds = 999999;

bool allDigits(const std::string& text) {
    if (text.empty() || text.size() > 12) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

// "[[H:]MM:]SS[.fff]" in ticks, rounded down.
bool parseClock(const std::string& text, std::int64_t& ticks) {
    const auto point = text.find('.');
    const std::string whole = text.substr(0, point);
    std::int64_t seconds = 0;
    std::size_t at = 0;
    int fields = 0;
    while (true) {
        const auto colon = whole.find(':', at);
        const std::string field = whole.substr(at, colon == std::string::npos ? colon : colon - at);
        if (!allDigits(field)) return false;
        const std::int64_t value = std::stoll(field);
        if (fields > 0 && (field.size() != 2 || value > 59)) return false;
        seconds = seconds * 60 + value;
        if (seconds > kMaxSeconds || ++fields > 3) return false;
        if (colon == std::string::npos) break;
        at = colon + 1;
    }
    ticks = seconds * kTicksPerSecond;
    if (point == std::string::npos) return true;
    const std::string fraction = text.substr(point + 1);
    if (!allDigits(fraction) || fraction.size() > 9) return false;
    std::int64_t scale = 1;
    for (std::size_t i = 0; i < fraction.size(); ++i)
        scale *= 10;
    ticks += std::stoll(fraction) * kTicksPerSecond / scale;
    return true;
}

bool parseTime(const std::string& text, const FrameRate* rate, std::int64_t& ticks,
               std::string& error) {
    if (!text.empty() && text[0] == '#') {
        const std::string frame = text.substr(1);
        if (!allDigits(frame) || frame.size() > 9) {
            error = "bad frame number '" + text + "'";
            return false;
        }
        if (!rate) {
            error =
                "frame number '" + text + "' needs the recording's frame rate, which is unknown";
            return false;
        }
        ticks = FrameSearchTicks(std::stoll(frame), *rate);
        return true;
    }
    if (parseClock(text, ticks)) return true;
    error = "bad time '" + text + "': expected seconds (75.5), H:MM:SS.fff or #frame";
    return false;
}
}  // namespace

CutFileContent Read(const std::string& text, const FrameRate* rate) {
    CutFileContent content;
    std::vector<std::string> lines;
    if (!SplitCutFileLines(text, lines)) {
        content.Refuse("not a text file");
        return content;
    }
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::istringstream fields(lines[i]);
        std::string from, to, action, extra;
        if (!(fields >> from)) continue;  // blank line
        if (!(fields >> to)) {
            content.Refuse(LineError(i, "expected START END ACTION"));
            return content;
        }
        int kind = kCut;
        if (fields >> action) {
            if (action.size() != 1 || action[0] < '0' || action[0] > '3') {
                content.Refuse(
                    LineError(i, "unknown action '" + action + "': expected 0, 1, 2 or 3"));
                return content;
            }
            kind = action[0] - '0';
        }
        if (fields >> extra) {
            content.Refuse(LineError(i, "unexpected '" + extra + "' after the action"));
            return content;
        }
        CutSpan span;
        span.line = static_cast<int>(i + 1);
        std::string error;
        if (!parseTime(from, rate, span.start, error) || !parseTime(to, rate, span.end, error)) {
            content.Refuse(LineError(i, error));
            return content;
        }
        if (span.end < span.start) {
            content.Refuse(LineError(i, "the end " + to + " lies before the start " + from));
            return content;
        }
        if (kind != kCut && kind != kCommercialBreak) {
            content.notes.push_back(LineError(i, kind == kMute
                                                     ? "a mute entry cuts nothing; passed over"
                                                     : "a scene marker cuts nothing; passed over"));
            continue;
        }
        content.spans.push_back(span);
    }
    return content;
}

std::string Write(const std::vector<CutSpan>& spans, std::int64_t recordingEnd) {
    std::string out;
    auto seconds = [](std::int64_t ticks) {
        const std::int64_t ms = ticks / 90;  // rounded down
        char text[40];
        std::snprintf(text, sizeof text, "%lld.%03lld", static_cast<long long>(ms / 1000),
                      static_cast<long long>(ms % 1000));
        return std::string(text);
    };
    for (const CutSpan& span : spans)
        out += seconds(span.start) + "\t" + seconds(span.toEnd ? recordingEnd : span.end) + "\t0\n";
    return out;
}

}  // namespace edl
