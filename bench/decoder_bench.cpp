// Decodes the I pictures of a generated SD stream with the snapshot decoder
// and, in the same run, with ffmpeg on one thread; prints pictures per
// second for both and their ratio. Needs ffmpeg on the PATH.
//
//   decoder_bench [pictures] [bit rate]      (defaults: 100 pictures, 15M)

#include <unistd.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "mpegsnap/snapshot_decoder.h"

namespace {

// Processor time of this process, comparable with ffmpeg's user time on a
// machine shared with other work.
double cpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

int run(const std::string& command) {
    return std::system(command.c_str());
}

// ffmpeg's user time for decoding the stream, from its -benchmark line.
double ffmpegSeconds(const std::string& stream, const std::string& log) {
    if (run("ffmpeg -nostdin -hide_banner -benchmark -threads 1 -i '" + stream + "' -f null - > '" +
            log + "' 2>&1") != 0)
        return -1;
    std::ifstream in(log);
    std::string line;
    double seconds = -1;
    while (std::getline(in, line)) {
        const std::size_t at = line.find("bench: utime=");
        if (at != std::string::npos) seconds = std::atof(line.c_str() + at + 13);
    }
    return seconds;
}

}  // namespace

int main(int argc, char** argv) {
    const int pictures = argc > 1 ? std::atoi(argv[1]) : 100;
    const std::string bitRate = argc > 2 ? argv[2] : "15M";
    const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                      ("ravelo_decoder_bench_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string stream = (dir / "sd.m2v").string();
    // Interlaced PAL SD, intra only, with noise so that the pictures carry
    // as many coefficients as broadcast material.
    if (run("ffmpeg -nostdin -loglevel error -y -f lavfi -i "
            "'testsrc2=size=720x576:rate=25,noise=alls=10:allf=t' -frames:v " +
            std::to_string(pictures) + " -c:v mpeg2video -g 1 -b:v " + bitRate + " -maxrate " +
            bitRate + " -bufsize 4M -flags +ildct -top 1 -f mpeg2video '" + stream + "'") != 0) {
        std::fprintf(stderr, "decoder_bench: ffmpeg could not generate the stream\n");
        return 2;
    }
    std::ifstream file(stream, std::ios::binary);
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                                          std::istreambuf_iterator<char>());

    // Best of three runs of ours; ffmpeg's user time once (it reads the file
    // itself and starts a process, which counts against it a little).
    double best = 1e9;
    int decoded = 0;
    for (int round = 0; round < 3; ++round) {
        const double start = cpuSeconds();
        mpegsnap::SnapshotDecoder decoder;
        decoder.Init(bytes);
        decoded = 0;
        while (decoder.DecodeNextFrame() == 1)
            ++decoded;
        best = std::min(best, cpuSeconds() - start);
    }
    // One snapshot as the window takes it: the first frame decoded and
    // turned into the bitmap, including the decoder's set-up.
    constexpr int kSnapshots = 20;
    const double snapshotStart = cpuSeconds();
    std::vector<std::uint8_t> bitmap;
    for (int i = 0; i < kSnapshots; ++i) {
        mpegsnap::SnapshotDecoder decoder;
        decoder.Init(bytes);
        decoder.DecodeNextFrame();
        bitmap.assign(static_cast<std::size_t>(578) * 722 * 3 + 4096, 0);
        decoder.ConvertFrame(mpegsnap::BitmapConverter::kKindBitmap, bitmap.data(), bitmap.size());
    }
    const double snapshotMs = (cpuSeconds() - snapshotStart) * 1000 / kSnapshots;

    const double ffmpeg = ffmpegSeconds(stream, (dir / "ffmpeg.log").string());
    std::filesystem::remove_all(dir);
    if (decoded == 0 || ffmpeg <= 0) {
        std::fprintf(stderr, "decoder_bench: decoding failed (ours %d pictures, ffmpeg %.3f s)\n",
                     decoded, ffmpeg);
        return 2;
    }
    const double ours = decoded / best;
    const double theirs = pictures / ffmpeg;
    std::printf("stream: %d I pictures 720x576, %zu bytes (%.1f KB per picture)\n", pictures,
                bytes.size(), bytes.size() / 1024.0 / pictures);
    std::printf("ravelo: %.1f pictures/s (%d pictures in %.3f s processor time)\n", ours, decoded,
                best);
    std::printf("ffmpeg: %.1f pictures/s (-threads 1, user time %.3f s)\n", theirs, ffmpeg);
    std::printf("ratio:  %.2f\n", ours / theirs);
    std::printf("snapshot (first picture decoded and converted to the bitmap): %.1f ms\n",
                snapshotMs);
    return 0;
}
