#include "app/cut_interchange.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "app/comskip_cut_file.h"
#include "app/cut_list.h"
#include "app/cut_span.h"
#include "app/edl_cut_file.h"
#include "app/mark_placement.h"
#include "app/recording_model.h"
#include "app/snapshot_capture.h"
#include "app/vdr_marks_file.h"

namespace {
constexpr std::size_t kMaxCutFileSize = 1 << 20;
// A stamp no picture has: every capture counts as a new picture.
constexpr std::int64_t kNoStamp = -1;
// VDR assumes 25 frames per second when a recording does not say.
constexpr FrameRate kVdrDefaultRate{25, 1};

struct TimeBase {
    std::optional<FrameRate> rate;  // from the first sequence header
};

// The recording's own first picture becomes time 0, as the window sets it
// when it shows a recording; its sequence header gives the frame rate.
TimeBase ownTimeBase(CRecordingModel& model) {
    const std::int64_t stored = model.m_firstPTS;
    model.m_firstPTS = 0;
    const SnapshotCapture first = CaptureSnapshot(model, 0, kNoStamp, std::string());
    TimeBase base;
    if (!first.pictureFound) {
        model.m_firstPTS = stored;
        return base;
    }
    // frame_rate_code: the low four bits after aspect_ratio_information.
    base.rate = FrameRateFromCode(first.sequenceHeader[7] & 0x0F);
    return base;
}

std::uint64_t sectorCount(const CRecordingModel& model) {
    return model.Recording().GetLength() / kSectorSize;
}

CutFileContent readFormat(const std::string& text, CutFileFormat format, const TimeBase& base,
                          std::vector<std::string>& notes) {
    switch (format) {
        case CutFileFormat::Edl:
            return edl::Read(text, base.rate ? &*base.rate : nullptr);
        case CutFileFormat::VdrMarks:
            if (!base.rate)
                notes.push_back(
                    "the recording's frame rate is unknown; marks are read at 25 "
                    "frames per second");
            return vdr::Read(text, base.rate.value_or(kVdrDefaultRate));
        case CutFileFormat::Comskip:
            return comskip::Read(text, base.rate ? &*base.rate : nullptr);
    }
    return {};
}

// The picture a mark shows, in ticks from the first picture; a mark at the
// very end of the recording, or behind its last picture, runs to the end.
std::optional<std::int64_t> markTicks(CRecordingModel& model, std::uint64_t sector) {
    if (sector >= sectorCount(model)) return std::nullopt;
    const SnapshotCapture c = CaptureSnapshot(model, sector, kNoStamp, std::string());
    if (!c.pictureFound) return std::nullopt;
    return c.stamp - model.m_firstPTS;
}

// The enabled areas as time spans, sorted; overlapping and touching areas
// are joined, since the jobs leave out their union anyway.
std::vector<CutSpan> enabledSpans(CRecordingModel& model) {
    std::vector<CutSpan> spans;
    for (const CCutArea& area : model.m_cutList) {
        if (!area.IsEnabled) continue;
        const auto start = markTicks(model, area.SectorStart);
        if (!start) continue;  // starts at the end: leaves nothing out
        const auto end = markTicks(model, area.SectorEnd);
        CutSpan span{*start, end.value_or(0), !end, 0};
        if (span.toEnd || span.end > span.start) spans.push_back(span);
    }
    std::sort(spans.begin(), spans.end(),
              [](const CutSpan& a, const CutSpan& b) { return a.start < b.start; });
    std::vector<CutSpan> joined;
    for (const CutSpan& span : spans) {
        if (!joined.empty() && (joined.back().toEnd || span.start <= joined.back().end)) {
            CutSpan& last = joined.back();
            if (span.toEnd) last.toEnd = true;
            if (!last.toEnd) last.end = std::max(last.end, span.end);
            continue;
        }
        joined.push_back(span);
    }
    return joined;
}

// Just behind the last picture: a time that reads back as "to the end".
std::int64_t recordingEndTicks(CRecordingModel& model, const std::optional<FrameRate>& rate) {
    std::int64_t last = 0;
    if (!FindLastPictureStamp(model, last))
        last = PlaceMarkAtSector(model, sectorCount(model)).stamp;
    return last - model.m_firstPTS + (rate ? FrameTicks(1, *rate) : FrameTicks(1, kVdrDefaultRate));
}

std::string lowerCase(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::string osError(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}
}  // namespace

std::optional<CutFileFormat> CutFileFormatFromName(const std::string& name) {
    if (name == "edl") return CutFileFormat::Edl;
    if (name == "vdr") return CutFileFormat::VdrMarks;
    if (name == "comskip") return CutFileFormat::Comskip;
    return std::nullopt;
}

std::optional<CutFileFormat> CutFileFormatFromPath(const std::string& path) {
    const std::string name = lowerCase(path.substr(path.find_last_of('/') + 1));
    const auto dot = name.rfind('.');
    const std::string extension = dot == std::string::npos ? std::string() : name.substr(dot + 1);
    if (extension == "edl") return CutFileFormat::Edl;
    if (name == "marks" || extension == "vdr") return CutFileFormat::VdrMarks;
    if (extension == "txt") return CutFileFormat::Comskip;
    return std::nullopt;
}

std::string CutFileFormatName(CutFileFormat format) {
    switch (format) {
        case CutFileFormat::Edl:
            return "edl";
        case CutFileFormat::VdrMarks:
            return "vdr";
        case CutFileFormat::Comskip:
            return "comskip";
    }
    return std::string();
}

CutImport ImportCutList(CRecordingModel& model, const std::string& text, CutFileFormat format) {
    CutImport result;
    const TimeBase base = ownTimeBase(model);
    CutFileContent content = readFormat(text, format, base, result.notes);
    result.notes.insert(result.notes.end(), content.notes.begin(), content.notes.end());
    if (content.Failed()) {
        result.error = content.error;
        return result;
    }
    const std::uint64_t sectors = sectorCount(model);
    for (const CutSpan& span : content.spans) {
        const PlacedMark start = PlaceMarkAtTime(model, span.start);
        const PlacedMark end =
            span.toEnd ? PlaceMarkAtSector(model, sectors) : PlaceMarkAtTime(model, span.end);
        CCutArea area;
        cutlist::SetStartMark(area, start.sector, start.stamp);
        cutlist::SetEndMark(area, end.sector, end.stamp);
        if (!area.IsEnabled) {
            result.notes.push_back("line " + std::to_string(span.line) +
                                   ": start and end land on the same picture; left out");
            continue;
        }
        result.areas.push_back(area);
    }
    return result;
}

bool ExportCutList(CRecordingModel& model, CutFileFormat format, std::string& text,
                   std::string* error) {
    const TimeBase base = ownTimeBase(model);
    if (format != CutFileFormat::Edl && !base.rate) {
        if (error)
            *error = "the recording's frame rate is unknown (no MPEG-2 sequence header); " +
                     CutFileFormatName(format) + " lists count frames";
        return false;
    }
    const std::vector<CutSpan> spans = enabledSpans(model);
    const std::int64_t end = recordingEndTicks(model, base.rate);
    switch (format) {
        case CutFileFormat::Edl:
            text = edl::Write(spans, end);
            break;
        case CutFileFormat::VdrMarks:
            text = vdr::Write(spans, *base.rate);
            break;
        case CutFileFormat::Comskip:
            text = comskip::Write(spans, *base.rate, NearestFrame(end, *base.rate), end);
            break;
    }
    return true;
}

bool ExportCutFile(CRecordingModel& model, CutFileFormat format, const std::string& path,
                   std::string* error) {
    // Writing goes through a rename, which would put the list in place of
    // the recording's own file.
    if (model.Recording().HoldsFile(path)) {
        if (error) *error = path + " is the recording itself; the cut list is not written there";
        return false;
    }
    std::string text;
    return ExportCutList(model, format, text, error) && WriteCutFile(path, text, error);
}

bool ReadCutFile(const std::string& path, std::string& text, std::string* error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (error) *error = osError("cannot read", path);
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        if (error) *error = path + " is not a file";
        ::close(fd);
        return false;
    }
    text.clear();
    char block[65536];
    ssize_t got;
    while ((got = ::read(fd, block, sizeof block)) > 0 && text.size() <= kMaxCutFileSize)
        text.append(block, static_cast<std::size_t>(got));
    const bool failed = got < 0;
    if (failed && error) *error = osError("cannot read", path);
    ::close(fd);
    if (failed) return false;
    if (text.size() > kMaxCutFileSize) {
        if (error) *error = path + " is larger than 1 MiB: not a cut list";
        return false;
    }
    return true;
}

bool WriteCutFile(const std::string& path, const std::string& text, std::string* error) {
    const std::string temporary = path + ".part";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        if (error) *error = osError("cannot write", temporary);
        return false;
    }
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    bool ok = done == text.size() && ::fsync(fd) == 0;
    if (!ok && error) *error = osError("cannot write", temporary);
    if (::close(fd) != 0 && ok) {
        ok = false;
        if (error) *error = osError("cannot write", temporary);
    }
    if (ok && ::rename(temporary.c_str(), path.c_str()) != 0) {
        ok = false;
        if (error) *error = osError("cannot write", path);
    }
    if (!ok) ::unlink(temporary.c_str());
    return ok;
}
