#include "cli/recording_args.h"

#include <cstdio>
#include <optional>
#include <regex>

#include "app/cut_list.h"
#include "app/mark_placement.h"
#include "app/recording_model.h"
#include "app/snapshot_capture.h"
#include "demux/mpeg_ts_demux.h"

namespace cli {

namespace {
constexpr std::int64_t kTicksPerMs = 90;

bool parseNumber(const std::string& text, std::uint64_t& value) {
    if (text.empty() || text.size() > 19) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return true;
}
}  // namespace

bool ParseMark(const std::string& text, Mark& mark, std::string* error) {
    static const std::regex time(R"((\d{1,6}):([0-5]\d):([0-5]\d)(?:\.(\d{1,3}))?)");
    std::smatch m;
    mark = Mark{};
    if (std::regex_match(text, m, time)) {
        std::string fraction = m[4].matched ? m[4].str() : "0";
        while (fraction.size() < 3)
            fraction += '0';
        mark.isTime = true;
        mark.ms =
            ((std::stoll(m[1].str()) * 60 + std::stoll(m[2].str())) * 60 + std::stoll(m[3].str())) *
                1000 +
            std::stoll(fraction);
        return true;
    }
    if (parseNumber(text, mark.sector)) return true;
    if (error) *error = "bad mark '" + text + "': expected a sector number or a time H:MM:SS[.mmm]";
    return false;
}

bool ParseMarkRange(const std::string& text, Mark& from, Mark& to, std::string* error) {
    const auto dash = text.find('-');
    if (dash == std::string::npos || text.find('-', dash + 1) != std::string::npos) {
        if (error) *error = "bad range '" + text + "': expected FROM-TO";
        return false;
    }
    return ParseMark(text.substr(0, dash), from, error) &&
           ParseMark(text.substr(dash + 1), to, error);
}

ResolvedMark ResolveMark(CRecordingModel& model, const Mark& mark) {
    const PlacedMark placed = mark.isTime ? PlaceMarkAtTime(model, mark.ms * kTicksPerMs)
                                          : PlaceMarkAtSector(model, mark.sector);
    return ResolvedMark{placed.sector, placed.stamp, placed.pictureFound};
}

namespace {
std::string markText(const Mark& mark) {
    return mark.isTime ? FormatMs(mark.ms) : std::to_string(mark.sector);
}

// The end of the recording in the mark's own unit: the last picture's time,
// or the number of sectors. Empty when the mark lies within it.
std::optional<std::string> beyondEnd(CRecordingModel& model, const Mark& mark) {
    if (!mark.isTime) {
        const std::uint64_t sectors = model.Recording().GetLength() / 512;
        if (mark.sector <= sectors) return std::nullopt;
        return "sector " + std::to_string(sectors);
    }
    std::int64_t last = 0;
    if (!FindLastPictureStamp(model, last)) return std::nullopt;
    const std::int64_t endMs = (last - model.m_firstPTS) / kTicksPerMs;
    if (mark.ms <= endMs) return std::nullopt;
    return FormatMs(endMs);
}
}  // namespace

bool MakeCutArea(CRecordingModel& model, const std::string& range, CCutArea& area,
                 std::string* error) {
    Mark from, to;
    if (!ParseMarkRange(range, from, to, error)) return false;
    auto fail = [&](const std::string& what) {
        if (error) *error = "bad range '" + range + "': " + what;
        return false;
    };
    if (from.isTime == to.isTime &&
        (from.isTime ? from.ms > to.ms : from.sector > to.sector))
        return fail("FROM " + markText(from) + " is after TO " + markText(to));
    if (auto end = beyondEnd(model, from)) return fail("FROM is beyond the end (" + *end + ")");
    if (auto end = beyondEnd(model, to)) return fail("TO is beyond the end (" + *end + ")");
    const ResolvedMark start = ResolveMark(model, from);
    const ResolvedMark end = ResolveMark(model, to);
    area = CCutArea{};
    cutlist::SetStartMark(area, start.sector, start.stamp);
    cutlist::SetEndMark(area, end.sector, end.stamp);
    if (end.sector < start.sector)
        return fail("FROM " + markText(from) + " lands after TO " + markText(to));
    if (!area.IsEnabled) return fail("FROM and TO land on the same picture");
    return true;
}

bool AreaRunsToTheEnd(const CCutArea& area) {
    return area.PTSEnd == 0 && area.PTSStart != 0;
}

std::string AreaStartText(const CRecordingModel& model, const CCutArea& area) {
    return FormatMs((area.PTSStart - model.m_firstPTS) / kTicksPerMs);
}

std::string AreaEndText(const CRecordingModel& model, const CCutArea& area) {
    if (AreaRunsToTheEnd(area)) return "end";
    return FormatMs((area.PTSEnd - model.m_firstPTS) / kTicksPerMs);
}

void PrintCutAreas(std::FILE* out, const CRecordingModel& model, const CCutList& areas) {
    for (std::size_t i = 0; i < areas.size(); ++i) {
        const CCutArea& a = areas[i];
        std::string times;
        if (a.PTSStart != 0 || a.PTSEnd != 0)
            times = ", " + AreaStartText(model, a) + "-" + AreaEndText(model, a);
        std::fprintf(out, "Cut-area %zu: sectors %llu-%llu%s%s\n", i + 1,
                     static_cast<unsigned long long>(a.SectorStart),
                     static_cast<unsigned long long>(a.SectorEnd), times.c_str(),
                     a.IsEnabled ? "" : " (disabled)");
    }
}

bool OpenRecording(CRecordingModel& model, const std::string& path) {
    std::string error;
    if (model.Open(path, &error)) return true;
    std::fprintf(stderr, "ravelo-cli: %s\n", error.c_str());
    return false;
}

std::string FormatMs(std::int64_t ms) {
    const char* sign = ms < 0 ? "-" : "";
    if (ms < 0) ms = -ms;
    char text[48];
    std::snprintf(text, sizeof text, "%s%lld:%02lld:%02lld.%03lld", sign,
                  static_cast<long long>(ms / 3600000), static_cast<long long>(ms / 60000 % 60),
                  static_cast<long long>(ms / 1000 % 60), static_cast<long long>(ms % 1000));
    return text;
}

}  // namespace cli

namespace cli {
std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}
}  // namespace cli
