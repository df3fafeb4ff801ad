#include "media_oracle.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <set>
#include <sstream>
#include <filesystem>
#include <stdexcept>

#include "support/temp_dir.h"

namespace {
constexpr std::int64_t kTicksPerFrame = 3600;  // 90 kHz at 25 pictures per second
constexpr std::uint64_t kLeadingReach = 262144;
}  // namespace

void MakeTestRecording(const std::string& path, double seconds, const std::string& size) {
    std::ostringstream command;
    command << "ffmpeg -v error -y -f lavfi -i testsrc2=size=" << size
            << ":rate=25 -f lavfi -i sine=frequency=440:sample_rate=48000 -t " << seconds
            << " -c:v mpeg2video -g 12 -bf 2 -qscale:v 2 -c:a mp2 -b:a 192k -f mpegts '" << path
            << "' 2>&1";
    std::string errors = RunCommand(command.str());
    if (!errors.empty()) throw std::runtime_error("ffmpeg: " + errors);
}

std::vector<VideoPacket> VideoPackets(const std::string& path, const std::string& stream) {
    std::istringstream lines(RunCommand("ffprobe -v error -select_streams " + stream +
                                        " -show_entries packet=pts,pos,flags -of csv=p=0 '" + path +
                                        "' 2>/dev/null"));
    std::vector<VideoPacket> packets;
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty()) continue;
        VideoPacket packet;
        std::istringstream fields(line);
        std::string pts, pos, flags;
        std::getline(fields, pts, ',');
        std::getline(fields, pos, ',');
        std::getline(fields, flags, ',');
        if (pts == "N/A" || pos == "N/A") continue;
        packet.pts = std::stoll(pts);
        packet.pos = std::stoull(pos);
        packet.key = flags.find('K') != std::string::npos;
        packets.push_back(packet);
    }
    std::sort(packets.begin(), packets.end(),
              [](const VideoPacket& a, const VideoPacket& b) { return a.pos < b.pos; });
    return packets;
}

std::map<std::int64_t, std::string> PictureHashes(const std::string& path,
                                                  const std::string& stream) {
    std::istringstream lines(RunCommand("ffmpeg -v error -copyts -i '" + path +
                                        "' -map 0:" + stream +
                                        " -fps_mode passthrough -f framemd5 - 2>/dev/null"));
    std::map<std::int64_t, std::string> hashes;
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> fields;
        std::istringstream parts(line);
        std::string field;
        while (std::getline(parts, field, ','))
            fields.push_back(field);
        if (fields.size() < 6) continue;
        hashes[std::stoll(fields[2])] = fields[5];
    }
    return hashes;
}

std::string DecodeErrors(const std::string& path, const std::string& stream) {
    return RunCommand("ffmpeg -v error -i '" + path + "' -map 0:" + stream + " -f null - 2>&1");
}

int DecodeErrorCount(const std::string& path, const std::string& stream) {
    std::istringstream lines(DecodeErrors(path, stream));
    int count = 0;
    std::string line;
    while (std::getline(lines, line))
        if (line.find("Last message repeated") == std::string::npos) ++count;
    return count;
}

std::vector<std::int64_t> KeptPictures(const std::vector<VideoPacket>& packets,
                                       std::vector<TestArea> areas, std::uint64_t dataStart,
                                       std::uint64_t length) {
    std::sort(areas.begin(), areas.end(),
              [](const TestArea& a, const TestArea& b) { return a.start < b.start; });
    std::vector<TestArea> merged;
    for (const TestArea& area : areas) {
        if (!merged.empty() && area.start <= merged.back().end)
            merged.back().end = std::max(merged.back().end, area.end);
        else
            merged.push_back(area);
    }
    auto firstKeyAtOrAfter = [&](std::uint64_t position) {
        for (std::size_t i = 0; i < packets.size(); ++i)
            if (packets[i].key && packets[i].pos >= position) return i;
        return packets.size();
    };
    std::set<std::size_t> dropped;
    for (const TestArea& area : merged) {
        std::uint64_t from = dataStart;
        if (area.start > dataStart + kLeadingReach) {
            std::size_t key = firstKeyAtOrAfter(area.start);
            if (key < packets.size() && packets[key].pos >= area.end) continue;  // no GOP inside
            from = key < packets.size() ? packets[key].pos : length;
        }
        std::size_t resume = area.end >= length ? packets.size() : firstKeyAtOrAfter(area.end);
        std::uint64_t to = resume < packets.size() ? packets[resume].pos : length;
        for (std::size_t i = 0; i < packets.size(); ++i)
            if (packets[i].pos >= from && packets[i].pos < to) dropped.insert(i);
        // The B pictures shown before the resumed GOP's I picture.
        for (std::size_t i = resume + 1; i < packets.size() && packets[i].pts < packets[resume].pts;
             ++i)
            dropped.insert(i);
    }
    std::vector<std::int64_t> kept;
    for (std::size_t i = 0; i < packets.size(); ++i)
        if (!dropped.count(i))
            kept.push_back((packets[i].pts + kTicksPerFrame / 2) / kTicksPerFrame);
    std::sort(kept.begin(), kept.end());
    return kept;
}

std::vector<unsigned char> SwapPairs(std::vector<unsigned char> bytes) {
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        std::swap(bytes[i], bytes[i + 1]);
    return bytes;
}

std::vector<unsigned char> JoinedSegments(const std::string& base) {
    std::vector<unsigned char> all = ReadFileBytes(base);
    for (int index = 1;; ++index) {
        std::string digits = "00" + std::to_string(index);
        const std::string segment = base + "." + digits.substr(digits.size() - 3);
        if (!std::filesystem::exists(segment)) return all;
        const std::vector<unsigned char> part = ReadFileBytes(segment);
        all.insert(all.end(), part.begin(), part.end());
    }
}

std::string LayoutName(Layout layout) {
    switch (layout) {
        case Layout::Plain: return "Plain";
        case Layout::Segmented: return "Segmented";
        default: return "Swapped";
    }
}
