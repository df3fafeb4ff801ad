// The cut planner over an arbitrary recording and cut list. The first 12
// bytes choose the format (soft or hard cuts, header, packet stride), the
// video PID and up to three cut areas; the rest is the recording. What the
// planner leaves out must lie within the recording, in order, without
// overlaps, and never reach into the kept header.

#include <cstdint>

#include "engine/cut_planner.h"
#include "fuzz_input_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 12) return 0;
    static CRawFile file;
    if (!OpenFuzzRecording(file, data + 12, size - 12)) return 0;
    CutFormat format;
    format.hardCut = (data[0] & 1) != 0;
    format.packetStride = (data[0] & 2) ? 192 : 188;
    format.findFirstPacket = (data[0] & 4) != 0;
    format.headerSize = (data[0] & 8) ? 564 : 0;
    const std::uint16_t videoPid = static_cast<std::uint16_t>(((data[1] & 0x1F) << 8) | data[2]);
    const std::uint64_t length = file.GetLength();
    const std::uint64_t sectors = length / 512 + 1;
    CCutList cuts;
    for (int i = 0; i < 3; ++i) {
        CCutArea area;
        area.IsEnabled = (data[3 + 3 * i] & 0x80) == 0;
        area.SectorStart = sectors * data[3 + 3 * i] / 128;
        area.SectorEnd = sectors * data[4 + 3 * i] / 128;
        area.PTSStart = data[5 + 3 * i];
        area.PTSEnd = area.PTSStart + 90000;
        cuts.push_back(area);
    }
    const std::uint64_t dataStart = std::min<std::uint64_t>(format.headerSize, length);
    CCutPlanner planner(file, format, videoPid, dataStart, data[0] >> 4);
    const std::vector<CutDrop> drops = planner.Plan(cuts);
    std::uint64_t last = dataStart;
    for (const CutDrop& drop : drops) {
        if (drop.from < last || drop.to < drop.from || drop.to > length) __builtin_trap();
        last = drop.to;
    }
    return 0;
}
