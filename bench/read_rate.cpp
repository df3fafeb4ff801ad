// Measures CRawFile's read path as the demultiplexer uses it (190-byte reads,
// each followed by a 2-byte seek back) against plain 1 MiB reads of the same
// file, in the same run. Usage: bench_read [FILE [SIZE_MIB]]; the file is
// generated (and removed afterwards) when it does not exist.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "demux/raw_file.h"
#include "platform/file.h"

namespace {

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void generate(const std::string& path, std::uint64_t bytes) {
    platform::PlatformFile file;
    platform::FileError error;
    if (!file.Open(path, platform::modeCreate | platform::modeWrite, &error)) {
        std::fprintf(stderr, "cannot create %s\n", path.c_str());
        std::exit(2);
    }
    std::vector<unsigned char> block(1 << 20);
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<unsigned char>(i % 188 ? i : 0x47);
    for (std::uint64_t done = 0; done < bytes; done += block.size())
        file.WriteAt(done, block.data(), block.size());
}

std::uint64_t readPackets(CRawFile& file) {
    unsigned char packet[190];
    std::uint64_t sum = 0;
    file.SeekToStart();
    while (file.Read(packet, sizeof packet) == sizeof packet) {
        sum += packet[0];
        file.Seek(-2, CRawFile::current);
    }
    return sum;
}

std::uint64_t readBlocks(CRawFile& file) {
    std::vector<unsigned char> block(1 << 20);
    std::uint64_t sum = 0;
    file.SeekToStart();
    while (std::size_t n = file.Read(block.data(), block.size())) {
        sum += block[0];
        if (n < block.size()) break;
    }
    return sum;
}

}  // namespace

int main(int argc, char** argv) {
    std::string path = argc > 1 ? argv[1] : "/tmp/ravelo-bench-read.ts";
    std::uint64_t mib = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1024;
    bool generated = !platform::FileExists(path);
    if (generated) generate(path, mib << 20);

    CRawFile file;
    platform::FileError error;
    file.Open(path, platform::modeRead | platform::osSequentialScan, &error);
    if (error.Failed()) {
        std::fprintf(stderr, "cannot open %s\n", path.c_str());
        return 2;
    }
    double length = static_cast<double>(file.GetLength()) / (1 << 20);
    readBlocks(file);  // warm the page cache so both runs read from memory

    auto start = std::chrono::steady_clock::now();
    std::uint64_t a = readBlocks(file);
    double blockRate = length / secondsSince(start);
    start = std::chrono::steady_clock::now();
    std::uint64_t b = readPackets(file);
    double packetRate = length / secondsSince(start);

    std::printf("file: %.0f MiB\n", length);
    std::printf("plain 1 MiB reads:          %8.1f MiB/s\n", blockRate);
    std::printf("190-byte reads, 2 back:     %8.1f MiB/s\n", packetRate);
    std::printf("ratio (target >= 0.5):      %8.2f   (checksums %llu %llu)\n",
                packetRate / blockRate, static_cast<unsigned long long>(a),
                static_cast<unsigned long long>(b));
    if (generated) platform::RemoveFile(path);
    return 0;
}
