// The stream scan and the picture search over an arbitrary recording. The
// first 4 bytes choose the start position, whether the video PID comes from
// the scan or from the input, and the video codec the search assumes
// (MPEG-2, H.264 or HEVC).

#include <cstdint>
#include <vector>

#include "app/mpeg_snapshot.h"
#include "demux/mpeg_ts_demux.h"
#include "fuzz_input_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    // One file object for the whole run: its 4 MiB read buffer is allocated once.
    static CRawFile file;
    if (!OpenFuzzRecording(file, data + 4, size - 4)) return 0;
    CMpegTsDemux demux;
    std::uint16_t pmt = 0, video = 0, audio = 0, ac3 = 0;
    demux.ScanStreams(file, pmt, video, audio, ac3);
    CMpegSnapshot snapshot;
    if (data[0] & 1) video = static_cast<std::uint16_t>(((data[0] & 0x1E) << 7) | data[1]);
    snapshot.Init(file, pmt, video, audio);
    snapshot.m_streams = demux.Streams();
    static constexpr std::int32_t kTypes[4] = {kStreamVideo, kStreamH264, kStreamHevc, kStreamH264};
    sPMTEntry assumed;
    assumed.pid = video;
    assumed.streamType = kTypes[(data[0] >> 5) & 3];
    assumed.randomAccessMarks = (data[0] >> 7) ? 2 : 1;
    std::erase_if(snapshot.m_streams, [&](const sPMTEntry& e) { return e.pid == video; });
    snapshot.m_streams.push_back(assumed);
    const std::uint64_t position = (static_cast<std::uint64_t>(data[2]) << 8 | data[3]) * 4;
    snapshot.ExtractPicture(position, "");
    if (snapshot.m_pictureFound && snapshot.m_picturePosition > file.GetLength()) __builtin_trap();
    if (snapshot.m_pictureFound && snapshot.m_sequenceHeader[3] != 0xB3 &&
        snapshot.m_sequenceHeader[0] == 0 && snapshot.m_sequenceHeader[1] == 0 &&
        snapshot.m_sequenceHeader[2] == 1)
        __builtin_trap();
    return 0;
}
