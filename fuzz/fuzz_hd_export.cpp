// The export of an H.264 or HEVC recording's streams over arbitrary
// recording data: the streams are given (video on PID 0x100, AAC in ADTS,
// AAC in LATM, E-AC-3, AC-3 and MPEG audio on 0x101..0x105), the first
// bytes choose the video codec and up to two cut areas, the rest is the
// recording. The export reads it to its end without a crash, and the units
// it gives out are never empty.

#include <cstdint>
#include <string>

#include "demux/raw_file.h"
#include "engine/hd_stream_export.h"
#include "fuzz_input_file.h"
#include "output/mpeg_channel.h"

namespace {

CPMT Streams(bool hevc) {
    CPMT streams;
    auto add = [&streams](std::int32_t type, int pid) {
        sPMTEntry e;
        e.streamType = type;
        e.pid = pid;
        e.codec = EntryCodec(e);
        streams.push_back(e);
    };
    add(hevc ? kStreamHevc : kStreamH264, 0x100);
    add(kStreamAacAdts, 0x101);
    add(kStreamAacLatm, 0x102);
    add(kStreamEac3, 0x103);
    add(kStreamAC3, 0x104);
    add(kStreamMpeg2Audio, 0x105);
    return streams;
}

CCutArea Area(std::uint8_t start, std::uint8_t length, std::uint64_t sectors) {
    CCutArea area;
    area.IsEnabled = true;
    area.SectorStart = sectors * (start % 100) / 100;
    area.SectorEnd = area.SectorStart + sectors * (length % 100) / 100 + 1;
    area.PTSStart = static_cast<std::int64_t>(start) * 9000;
    area.PTSEnd = area.PTSStart + static_cast<std::int64_t>(length) * 9000;
    return area;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 6) return 0;
    CRawFile recording;
    if (!OpenFuzzRecording(recording, data + 6, size - 6)) return 0;
    CCutList cuts;
    for (int i = 0; i < (data[1] & 3) && i < 2; ++i)
        cuts.push_back(Area(data[2 + 2 * i], data[3 + 2 * i], recording.GetLength() / 512));
    CHdStreamExport exporter(recording, Streams(data[0] & 1), 0x100, cuts);
    recording.SeekToStart();
    while (exporter.Step(1 << 16)) {
        for (CMpegChannel* c : exporter.Output().Channels())
            while (!c->IsEmpty()) {
                if (c->GetTail().Size() == 0) __builtin_trap();
                c->RemoveTail();
            }
    }
    exporter.Finish();
    for (CMpegChannel* c : exporter.Output().Channels())
        while (!c->IsEmpty()) {
            if (c->GetTail().Size() == 0) __builtin_trap();
            c->RemoveTail();
        }
    recording.Close();
    return 0;
}
