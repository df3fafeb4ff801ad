#include "app/byte_order_probe.h"

#include <vector>

#include "demux/raw_file.h"
#include "demux/start_code.h"

namespace {
constexpr std::size_t kProbeLength = 1024000;

// The first kProbeLength bytes read in the given mode. One read of that size
// goes straight to the file, past the 4 MiB read buffer, so that each probe
// converts no more bytes than it looks at.
std::vector<std::uint8_t> probe(CRawFile& recording, int mode) {
    std::vector<std::uint8_t> buffer(kProbeLength);
    recording.SetUnswapped(mode);
    recording.SeekToStart();
    buffer.resize(recording.Read(buffer.data(), buffer.size()));
    return buffer;
}

int countStartCodes(const std::vector<std::uint8_t>& data, std::uint8_t first, std::uint8_t last) {
    int count = 0;
    const std::size_t held = data.size();
    for (std::size_t at = FindStartCodePrefix(data.data(), held, 0); at != mpeg::kNotFound;
         at = FindStartCodePrefix(data.data(), held, at + 3))
        if (at + 4 < held && data[at + 3] >= first && data[at + 3] <= last) ++count;
    return count;
}
}  // namespace

ByteOrderCounts ProbeByteOrder(CRawFile& recording) {
    ByteOrderCounts counts;
    const std::vector<std::uint8_t> swapped = probe(recording, 0);
    const std::vector<std::uint8_t> plain = probe(recording, 1);
    counts.swapped = countStartCodes(swapped, mpeg::kSequenceHeaderCode, mpeg::kSequenceHeaderCode);
    counts.plain = countStartCodes(plain, mpeg::kSequenceHeaderCode, mpeg::kSequenceHeaderCode);
    // H.264 and HEVC video has no sequence headers: its PES headers (stream
    // ids E0 to EF) tell the order instead.
    if (counts.swapped == 0 && counts.plain == 0) {
        counts.swapped = countStartCodes(swapped, 0xE0, 0xEF);
        counts.plain = countStartCodes(plain, 0xE0, 0xEF);
    }
    recording.SetUnswapped(counts.swapped > counts.plain ? 0 : 1);
    return counts;
}
