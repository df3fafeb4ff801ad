#include "app/byte_order_probe.h"

#include <vector>

#include "demux/raw_file.h"
#include "demux/start_code.h"

namespace {
constexpr std::size_t kProbeLength = 1024000;

// Sequence headers in the first kProbeLength bytes read in the given mode.
// One read of that size goes straight to the file, past the 4 MiB read
// buffer, so that each probe converts no more bytes than it looks at.
int countSequenceHeaders(CRawFile& recording, int mode) {
    std::vector<std::uint8_t> buffer(kProbeLength);
    recording.SetUnswapped(mode);
    recording.SeekToStart();
    const std::size_t held = recording.Read(buffer.data(), buffer.size());
    int count = 0;
    for (std::size_t at = FindStartCode(buffer.data(), held, 0, mpeg::kSequenceHeaderCode);
         at != mpeg::kNotFound;
         at = FindStartCode(buffer.data(), held, at + 4, mpeg::kSequenceHeaderCode))
        ++count;
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
