#include "app/vdr_marks_file.h"

#include <algorithm>
#include <cstdio>
#include <regex>

namespace vdr {
namespace {
struct Mark {
    std::int64_t frame = 0;
    std::size_t line = 0;  // index
};

// Frames of whole seconds, as VDR counts them at a rate like 29.97.
std::int64_t secondsToFrames(std::int64_t seconds, const FrameRate& rate) {
    return (seconds * rate.num * 2 + rate.den) / (2 * rate.den);
}
}  // namespace

std::string FrameToText(std::int64_t frame, const FrameRate& rate) {
    // The second whose first frame (VDR rounds) is the last at or before frame.
    std::int64_t seconds = frame * rate.den / rate.num;
    if (secondsToFrames(seconds + 1, rate) <= frame) ++seconds;
    const std::int64_t inSecond = frame - secondsToFrames(seconds, rate);
    char text[48];
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld.%02lld",
                  static_cast<long long>(seconds / 3600), static_cast<long long>(seconds / 60 % 60),
                  static_cast<long long>(seconds % 60), static_cast<long long>(inSecond));
    return text;
}

bool TextToFrame(const std::string& text, const FrameRate& rate, std::int64_t& frame) {
    static const std::regex mark(R"((\d{1,5}):([0-5]\d):([0-5]\d)(?:\.(\d{1,3}))?)");
    std::smatch m;
    if (!std::regex_match(text, m, mark)) return false;
    const std::int64_t seconds =
        (std::stoll(m[1].str()) * 60 + std::stoll(m[2].str())) * 60 + std::stoll(m[3].str());
    const std::int64_t inSecond = m[4].matched ? std::stoll(m[4].str()) : 0;
    // A second holds at most ceil(rate) frames.
    if (inSecond >= (rate.num + rate.den - 1) / rate.den) return false;
    frame = secondsToFrames(seconds, rate) + inSecond;
    return true;
}

CutFileContent Read(const std::string& text, const FrameRate& rate) {
    CutFileContent content;
    std::vector<std::string> lines;
    if (!SplitCutFileLines(text, lines)) {
        content.Refuse("not a text file");
        return content;
    }
    std::vector<Mark> marks;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string line = Trim(lines[i]);
        if (line.empty()) continue;
        const std::string time = line.substr(0, line.find_first_of(" \t"));
        Mark mark{0, i};
        if (!TextToFrame(time, rate, mark.frame)) {
            content.Refuse(LineError(i, "bad mark '" + time +
                                            "': expected H:MM:SS.FF with FF below " +
                                            FrameRateText(rate) + " frames"));
            return content;
        }
        marks.push_back(mark);
    }
    std::stable_sort(marks.begin(), marks.end(),
                     [](const Mark& a, const Mark& b) { return a.frame < b.frame; });
    if (marks.empty()) return content;  // no marks: VDR keeps everything
    auto addCut = [&](std::int64_t fromFrame, const Mark* to) {
        CutSpan span;
        span.start = FrameSearchTicks(fromFrame, rate);
        span.toEnd = to == nullptr;
        span.end = to ? FrameSearchTicks(to->frame, rate) : 0;
        span.line = static_cast<int>((to ? to->line : marks.back().line) + 1);
        if (span.toEnd || to->frame > fromFrame) content.spans.push_back(span);
    };
    addCut(0, &marks[0]);  // before the first mark
    for (std::size_t k = 1; k < marks.size(); k += 2)
        addCut(marks[k].frame, k + 1 < marks.size() ? &marks[k + 1] : nullptr);
    return content;
}

std::string Write(const std::vector<CutSpan>& spans, const FrameRate& rate) {
    std::vector<std::int64_t> marks;  // frames: keep from marks[0] to marks[1], ...
    std::int64_t keptFrom = 0;
    bool keeping = true;
    for (const CutSpan& span : spans) {
        const std::int64_t from = NearestFrame(span.start, rate);
        if (from > keptFrom) {
            marks.push_back(keptFrom);
            marks.push_back(from);
        }
        keeping = !span.toEnd;
        if (!keeping) break;
        keptFrom = std::max(keptFrom, NearestFrame(span.end, rate));
    }
    if (keeping) marks.push_back(keptFrom);  // the rest is kept
    std::string out;
    for (std::int64_t frame : marks)
        out += FrameToText(frame, rate) + "\n";
    return out;
}

}  // namespace vdr
