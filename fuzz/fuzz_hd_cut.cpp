// The cut engine on an arbitrary H.264 or HEVC recording: a copy without up
// to two cut areas, then the same cut in place. The first 8 bytes choose the
// codec, the video and sound PIDs and the areas; the rest is the recording.
// Neither run may crash, a failure must say why, and a cut in place that
// completes must leave the copy's bytes.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/cut_engine.h"
#include "fuzz_input_file.h"

namespace {

const std::string& CopyPath() {
    static const std::string path = "/tmp/ravelo-fuzz-" + std::to_string(::getpid()) + "-copy.ts";
    return path;
}

std::vector<std::uint8_t> ReadAll(const std::string& path) {
    std::vector<std::uint8_t> bytes;
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (!in) return bytes;
    std::uint8_t chunk[65536];
    for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, in)) > 0;)
        bytes.insert(bytes.end(), chunk, chunk + got);
    std::fclose(in);
    return bytes;
}

JobResult Cut(CRawFile& source, CRawFile& destination, std::uint16_t videoPid,
              const CNalSplicePlanner::Streams& streams, const CCutList& cuts) {
    CCutEngine engine(source, destination, videoPid, [](std::uint64_t) { return true; });
    engine.SetAudioPids(streams.audioPids);
    engine.SetStreams(streams);
    const JobResult result = engine.Run(cuts);
    if (result == JobResult::Failed && engine.ErrorMessage().empty()) __builtin_trap();
    return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 8) return 0;
    if (!WriteFuzzRecording(data + 8, size - 8)) return 0;
    CNalSplicePlanner::Streams streams;
    streams.codec = (data[0] & 1) ? StreamCodec::Hevc : StreamCodec::H264;
    streams.intraIsRandomAccess = (data[0] & 2) != 0;
    // The PIDs ffmpeg gives its first streams, or any other.
    const std::uint16_t videoPid = (data[0] & 4) ? 0x100 : static_cast<std::uint16_t>(data[1] << 4);
    streams.audioPids = {0x101, static_cast<std::uint16_t>(0x100 | data[1])};
    streams.audioPids.erase(videoPid);
    streams.otherPids = {0x103};
    const std::uint64_t sectors = (size - 8) / 512 + 1;
    CCutList cuts;
    for (int i = 0; i < 2; ++i) {
        CCutArea area;
        area.IsEnabled = (data[2 + 3 * i] & 0x80) == 0;
        area.SectorStart = sectors * (data[2 + 3 * i] & 0x7F) / 128;
        area.SectorEnd = area.SectorStart + sectors * data[3 + 3 * i] / 256 + 1;
        area.PTSStart = data[4 + 3 * i] * 3600;
        area.PTSEnd = area.PTSStart + 90000;
        cuts.push_back(area);
    }

    platform::FileError error;
    CRawFile source;
    if (!source.Open(FuzzFilePath(), platform::modeRead, &error) || error.Failed()) return 0;
    CRawFile copy;
    if (!copy.Open(CopyPath(), platform::modeCreate | platform::modeReadWrite, &error) ||
        error.Failed())
        return 0;
    const JobResult copied = Cut(source, copy, videoPid, streams, cuts);
    copy.Close();
    source.Close();

    CRawFile recording;
    if (!recording.Open(FuzzFilePath(), platform::modeReadWrite, &error) || error.Failed()) return 0;
    const JobResult cut = Cut(recording, recording, videoPid, streams, cuts);
    recording.Close();
    std::remove((FuzzFilePath() + ".cutjournal").c_str());
    const bool done = [](JobResult r) { return r == JobResult::Done || r == JobResult::DoneWithWarnings; }(cut);
    if (done && copied != JobResult::Failed && ReadAll(FuzzFilePath()) != ReadAll(CopyPath()))
        __builtin_trap();
    return 0;
}
