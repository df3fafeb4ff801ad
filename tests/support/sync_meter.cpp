#include "support/sync_meter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <sstream>
#include <unordered_map>

#include "support/run_command.h"

namespace meter {
namespace {

struct Row {
    int stream = 0;
    double time = 0;
    double duration = 0;
    std::string hash;
};

// ffmpeg's framemd5 lines: "#tb N: a/b" headers, then "stream, dts, pts,
// duration, size, hash[, side data]"; anything else is a message of ffmpeg.
std::vector<Row> FrameMd5(const std::string& arguments, std::string& errors) {
    const std::string output =
        RunCommand("ffmpeg -hide_banner -v error -copyts " + arguments +
            " -fps_mode passthrough -enc_time_base:v 1/90000 -f framemd5 - 2>&1");
    std::map<int, double> timeBase;
    std::vector<Row> rows;
    std::istringstream in(output);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("#tb ", 0) == 0) {
            int stream = 0, num = 0, den = 1;
            if (std::sscanf(line.c_str(), "#tb %d: %d/%d", &stream, &num, &den) == 3 && den != 0)
                timeBase[stream] = static_cast<double>(num) / den;
            continue;
        }
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> fields;
        std::istringstream parts(line);
        for (std::string f; std::getline(parts, f, ',');) {
            f.erase(0, f.find_first_not_of(' '));
            fields.push_back(f);
        }
        if (fields.size() < 6 || !std::isdigit(static_cast<unsigned char>(line[0]))) {
            errors += line + "\n";
            continue;
        }
        Row row;
        row.stream = std::stoi(fields[0]);
        const double tb = timeBase.count(row.stream) ? timeBase[row.stream] : 1.0 / 90000;
        row.time = std::stod(fields[2]) * tb;
        row.duration = std::stod(fields[3]) * tb;
        row.hash = fields[5];
        rows.push_back(row);
    }
    return rows;
}

std::string Quoted(const std::string& path) {
    return "\"" + path + "\"";
}

}  // namespace

Streams ReadProgram(const std::string& path, int audioIndex) {
    Streams s;
    const auto rows = FrameMd5("-i " + Quoted(path) + " -map 0:v:0 -map 0:a:" +
                                   std::to_string(audioIndex) + " -c:a copy",
                               s.errors);
    for (const Row& r : rows)
        (r.stream == 0 ? s.video : s.audio).push_back({r.time, r.hash, r.duration});
    std::stable_sort(s.video.begin(), s.video.end(),
                     [](const Frame& a, const Frame& b) { return a.time < b.time; });
    return s;
}

Streams ReadElementary(const std::string& video, const std::string& audio) {
    Streams s;
    double t = 0;
    for (const Row& r : FrameMd5("-i " + Quoted(video) + " -map 0:v:0", s.errors)) {
        s.video.push_back({t, r.hash, r.duration});
        t += r.duration > 0 ? r.duration : 0.04;
    }
    t = 0;
    for (const Row& r : FrameMd5("-i " + Quoted(audio) + " -map 0:a:0 -c:a copy", s.errors)) {
        s.audio.push_back({t, r.hash, r.duration});
        t += r.duration;
    }
    return s;
}

SyncReport Measure(const Streams& source, const Streams& output) {
    SyncReport report;
    report.sourcePictures = static_cast<int>(source.video.size());
    report.outputPictures = static_cast<int>(output.video.size());
    report.outputAudio = static_cast<int>(output.audio.size());
    if (source.video.empty()) return report;
    const double origin = source.video.front().time;

    std::unordered_map<std::string, double> sourcePicture, sourceAudio;
    for (const Frame& f : source.video) sourcePicture.emplace(f.hash, f.time);
    for (const Frame& f : source.audio) sourceAudio.emplace(f.hash, f.time);

    // The output's pictures that come from the source: (output, source) times.
    std::vector<std::pair<double, double>> shown;
    std::unordered_map<std::string, int> seen;
    for (const Frame& f : output.video) {
        auto it = sourcePicture.find(f.hash);
        if (it == sourcePicture.end()) {
            ++report.foreignPictures;
            continue;
        }
        if (++seen[f.hash] == 2) report.repeatedPictures.push_back(it->second - origin);
        shown.emplace_back(f.time, it->second);
    }
    for (const Frame& f : source.video)
        if (!seen.count(f.hash)) report.lostPictures.push_back(f.time - origin);
    if (!shown.empty()) {
        auto [first, last] = std::minmax_element(
            shown.begin(), shown.end(),
            [](const auto& a, const auto& b) { return a.second < b.second; });
        report.firstPicture = first->second - origin;
        report.lastPicture = last->second - origin;
    }

    double start = output.video.empty() ? 0 : output.video.front().time;
    if (!output.audio.empty()) start = std::min(start, output.audio.front().time);
    for (const Frame& f : output.audio) {
        auto it = sourceAudio.find(f.hash);
        if (it == sourceAudio.end() || shown.empty()) continue;
        ++report.matchedAudio;
        // The pictures on screen while this frame plays: the last one that
        // began at or before it (the first one before the pictures start)
        // and those that begin while it plays. Its error is against the one
        // it is most in step with: a frame that straddles a jump of the
        // pictures belongs to either side.
        auto at = std::upper_bound(shown.begin(), shown.end(), f.time,
                                   [](double t, const auto& p) { return t < p.first; });
        if (at != shown.begin()) --at;
        double error = 0;
        bool first = true;
        for (; at != shown.end() && (first || at->first < f.time + f.duration); ++at) {
            const double e = (f.time - it->second) - (at->first - at->second);
            if (first || std::fabs(e) < std::fabs(error)) error = e;
            first = false;
        }
        report.errors.push_back({f.time - start, error, it->second - origin});
    }
    return report;
}

double SyncReport::WorstError() const {
    double worst = 0;
    for (const Error& e : errors)
        if (std::fabs(e.error) > std::fabs(worst)) worst = e.error;
    return worst;
}

int SyncReport::LostBetween(double from, double to) const {
    return static_cast<int>(std::count_if(lostPictures.begin(), lostPictures.end(),
                                          [&](double t) { return t >= from && t < to; }));
}

std::string SyncReport::Summary() const {
    std::ostringstream s;
    s.setf(std::ios::fixed);
    s.precision(2);
    s << "pictures " << outputPictures << " of " << sourcePictures << " (source " << firstPicture
      << ".." << lastPicture << " s), foreign " << foreignPictures << ", lost "
      << lostPictures.size();
    for (std::size_t i = 0; i < lostPictures.size() && i < 30; ++i)
        s << (i ? "," : " [") << lostPictures[i] << (i + 1 == lostPictures.size() || i == 29 ? "]" : "");
    s << ", repeated " << repeatedPictures.size() << "; audio " << matchedAudio << " of "
      << outputAudio << " matched";
    double worstAt = 0;
    const double worst = WorstError();
    for (const Error& e : errors)
        if (e.error == worst) worstAt = e.at;
    s.precision(0);
    s << "; worst error " << worst * 1000 << " ms at " << worstAt << " s; per second:";
    std::map<int, double> perSecond;
    for (const Error& e : errors) {
        double& w = perSecond[static_cast<int>(e.at)];
        if (std::fabs(e.error) > std::fabs(w)) w = e.error;
    }
    for (const auto& [second, error] : perSecond)
        s << " " << second << ":" << std::showpos << error * 1000 << std::noshowpos;
    return s.str();
}

}  // namespace meter
