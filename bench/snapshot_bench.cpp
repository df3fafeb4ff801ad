// The window's snapshot on a 1080i H.264 recording: the picture search from
// a position, the decode of the picture it cuts out and the 24-bit bitmap,
// in one process as the window runs them. In the same run, ffmpeg extracts
// the same pictures one by one (each its own process, as a player's "save
// frame" would). Prints processor milliseconds per snapshot (user and
// system time, so that other work on a shared machine does not count) and
// the wall-clock time beside them.
//
//   snapshot_bench RECORDING [snapshots]      (default 20)

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/recording_model.h"
#include "app/snapshot_capture.h"
#include "codec/snapshot_file.h"
#include "platform/file.h"
#include "platform/memory_settings_store.h"

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// User and system time of this process, or of its finished children.
double cpuMs(int who) {
    rusage usage{};
    getrusage(who, &usage);
    auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: snapshot_bench RECORDING [snapshots]\n");
        return 2;
    }
    const std::string recording = argv[1];
    const int count = argc > 2 ? std::atoi(argv[2]) : 20;
    platform::MemorySettingsStore store;
    platform::SetSettingsStore(&store);
    CRecordingModel model;
    std::string error;
    if (!model.Open(recording, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    const std::filesystem::path work = std::filesystem::temp_directory_path() /
                                       ("ravelo-snapshot-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(work);
    const std::string cutOut = (work / "pic.m2v").string();
    const std::string bitmap = (work / "pic.bmp").string();
    const std::uint64_t sectors = model.Recording().GetLength() / 512;
    CaptureSnapshot(model, 0, -1, "");  // the first stamp, the stream's marks: learnt once

    std::vector<double> ours, searchOnly, ffmpeg, oursWall, ffmpegWall;
    std::vector<std::int64_t> stamps;
    for (int i = 0; i < count; ++i) {
        const std::uint64_t sector = sectors * static_cast<std::uint64_t>(i) / (count + 1);
        const auto start = Clock::now();
        const double cpu = cpuMs(RUSAGE_SELF);
        const SnapshotCapture c = CaptureSnapshot(model, sector, -1, cutOut);
        searchOnly.push_back(cpuMs(RUSAGE_SELF) - cpu);
        codec::WriteSnapshotBitmap(cutOut, bitmap);
        ours.push_back(cpuMs(RUSAGE_SELF) - cpu);
        oursWall.push_back(msSince(start));
        if (!c.pictureFound || !platform::FileExists(bitmap)) {
            std::fprintf(stderr, "no picture at sector %llu\n",
                         static_cast<unsigned long long>(sector));
            return 1;
        }
        stamps.push_back(c.stamp - model.m_firstPTS);
    }
    for (std::int64_t stamp : stamps) {
        char command[1024];
        std::snprintf(command, sizeof command,
                      "ffmpeg -nostdin -v error -y -threads 1 -ss %.3f -i '%s' -frames:v 1 '%s'",
                      static_cast<double>(stamp) / 90000.0, recording.c_str(),
                      (work / "ffmpeg.bmp").string().c_str());
        const auto start = Clock::now();
        const double cpu = cpuMs(RUSAGE_CHILDREN);
        if (std::system(command) != 0) return 1;
        ffmpeg.push_back(cpuMs(RUSAGE_CHILDREN) - cpu);
        ffmpegWall.push_back(msSince(start));
    }
    std::filesystem::remove_all(work);
    std::printf("%d snapshots of %s\n", count, recording.c_str());
    std::printf("%-34s %10s %10s %12s\n", "", "cpu median", "cpu max", "wall median");
    std::printf("%-34s %10.1f %10.1f %12.1f ms\n", "ravelo: search, decode, bitmap", median(ours),
                *std::max_element(ours.begin(), ours.end()), median(oursWall));
    std::printf("%-34s %10.1f %10.1f\n", "ravelo: picture search alone", median(searchOnly),
                *std::max_element(searchOnly.begin(), searchOnly.end()));
    std::printf("%-34s %10.1f %10.1f %12.1f ms\n", "ffmpeg -ss T -frames:v 1 (process)",
                median(ffmpeg), *std::max_element(ffmpeg.begin(), ffmpeg.end()),
                median(ffmpegWall));
    return 0;
}
