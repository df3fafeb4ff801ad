#include "app/byte_order_probe.h"

#include <vector>

#include "demux/raw_file.h"

namespace {
constexpr std::uint64_t kProbeLength = 1024000;
constexpr std::size_t kPiece = 32768;

int countSequenceHeaders(CRawFile& recording, int mode) {
    std::vector<std::uint8_t> buffer(kProbeLength + kPiece);
    recording.SetUnswapped(mode);
    recording.SeekToStart();
    std::size_t held = 0;
    while (recording.GetPosition() < kProbeLength) {
        const std::size_t got = recording.Read(buffer.data() + held, kPiece);
        held += got;
        if (got < kPiece) break;
    }
    int count = 0;
    for (std::size_t i = 0; i + 4 <= held; ++i) {
        if (buffer[i] == 0 && buffer[i + 1] == 0 && buffer[i + 2] == 1 && buffer[i + 3] == 0xB3)
            ++count;
    }
    return count;
}
}  // namespace

ByteOrderCounts ProbeByteOrder(CRawFile& recording) {
    ByteOrderCounts counts;
    counts.swapped = countSequenceHeaders(recording, 0);
    counts.plain = countSequenceHeaders(recording, 1);
    recording.SetUnswapped(counts.swapped > counts.plain ? 0 : 1);
    return counts;
}
