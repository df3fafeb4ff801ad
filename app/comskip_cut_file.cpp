#include "app/comskip_cut_file.h"

#include <cstdio>
#include <cstdlib>
#include <regex>

namespace comskip {
namespace {
constexpr const char* kHeader = "FILE PROCESSING COMPLETE";

// The rate the frame numbers count in: the header's hundredths, or the
// recording's exact rate when the two agree.
bool frameRate(const std::smatch& header, const FrameRate* recordingRate, FrameRate& rate,
               std::vector<std::string>& notes) {
    if (!header[2].matched) {
        if (!recordingRate) return false;
        rate = *recordingRate;
        return true;
    }
    const std::int64_t hundredths = std::stoll(header[2].str());
    if (hundredths <= 0) return false;
    const FrameRate stated{hundredths, 100};
    if (!recordingRate) {
        rate = stated;
        return true;
    }
    const std::int64_t recording =
        (recordingRate->num * 100 + recordingRate->den / 2) / recordingRate->den;
    if (std::llabs(recording - hundredths) <= 1) {
        rate = *recordingRate;
        return true;
    }
    rate = stated;
    notes.push_back(LineError(0, "frames counted at " + FrameRateText(stated) +
                                     " per second, the recording has " +
                                     FrameRateText(*recordingRate) + "; the list's rate is used"));
    return true;
}
}  // namespace

CutFileContent Read(const std::string& text, const FrameRate* recordingRate) {
    static const std::regex header(
        R"(FILE PROCESSING COMPLETE(?:\s+(\d{1,10}))?(?:\s+FRAMES\s+AT\s+(\d{1,6}))?)");
    static const std::regex pair(R"((\d{1,9})\s+(\d{1,9}))");
    CutFileContent content;
    std::vector<std::string> lines;
    if (!SplitCutFileLines(text, lines)) {
        content.Refuse("not a text file");
        return content;
    }
    std::smatch m;
    const std::string first = lines.empty() ? std::string() : Trim(lines[0]);
    if (!std::regex_match(first, m, header)) {
        content.Refuse(LineError(0, std::string("expected the comskip header \"") + kHeader +
                                        " <frames> FRAMES AT <rate>\""));
        return content;
    }
    FrameRate rate;
    if (!frameRate(m, recordingRate, rate, content.notes)) {
        content.Refuse(LineError(0, "no usable frame rate in the header or the recording"));
        return content;
    }
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::string line = Trim(lines[i]);
        if (line.empty()) continue;
        if (line.find_first_not_of('-') == std::string::npos)
            continue;  // the rule below the header
        if (!std::regex_match(line, m, pair)) {
            content.Refuse(LineError(i, "expected two frame numbers \"START END\""));
            return content;
        }
        const std::int64_t from = std::stoll(m[1].str()), to = std::stoll(m[2].str());
        if (to < from) {
            content.Refuse(LineError(
                i, "the end frame " + m[2].str() + " lies before the start frame " + m[1].str()));
            return content;
        }
        CutSpan span;
        span.line = static_cast<int>(i + 1);
        span.start = FrameSearchTicks(from > 0 ? from - 1 : 0, rate);
        span.end = FrameSearchTicks(to > 0 ? to - 1 : 0, rate);
        content.spans.push_back(span);
    }
    return content;
}

std::string Write(const std::vector<CutSpan>& spans, const FrameRate& rate, std::int64_t frames,
                  std::int64_t recordingEnd) {
    char line[96];
    const long long hundredths = (rate.num * 100 + rate.den / 2) / rate.den;
    std::snprintf(line, sizeof line, "%s %6lld FRAMES AT %5lld\n", kHeader,
                  static_cast<long long>(frames), hundredths);
    std::string out = line;
    out += "-------------------\n";
    for (const CutSpan& span : spans) {
        std::snprintf(
            line, sizeof line, "%lld\t%lld\n",
            static_cast<long long>(NearestFrame(span.start, rate) + 1),
            static_cast<long long>(NearestFrame(span.toEnd ? recordingEnd : span.end, rate) + 1));
        out += line;
    }
    return out;
}

}  // namespace comskip
