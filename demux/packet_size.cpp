#include "demux/packet_size.h"

#include <vector>

#include "demux/raw_file.h"

namespace {
constexpr std::uint8_t kSyncByte = 0x47;
constexpr std::size_t kProbeSize = 1 << 20;
// Sync bytes this many packets in a row are no coincidence of the payload.
constexpr std::size_t kRun = 5;

bool runAt(const std::uint8_t* data, std::size_t size, std::size_t at, std::size_t stride,
           std::size_t run) {
    for (std::size_t k = 0; k < run; ++k)
        if (at + k * stride >= size || data[at + k * stride] != kSyncByte) return false;
    return true;
}
}  // namespace

PacketLayout DetectPacketLayout(const std::uint8_t* data, std::size_t size) {
    PacketLayout layout;
    // A short recording holds fewer packets: its whole length must do.
    for (std::size_t run = kRun; run >= 2 && !layout.found; --run) {
        for (std::size_t at = 0; at < size && !layout.found; ++at) {
            if (data[at] != kSyncByte) continue;
            for (std::size_t stride : {std::size_t{188}, std::size_t{192}}) {
                if (!runAt(data, size, at, stride, run)) continue;
                layout = {stride, at, true};
                break;
            }
        }
    }
    return layout;
}

PacketLayout DetectPacketLayout(CRawFile& file, std::uint64_t from) {
    const std::uint64_t position = file.GetPosition();
    std::vector<std::uint8_t> block(kProbeSize);
    file.Seek(static_cast<std::int64_t>(from), CRawFile::begin);
    block.resize(file.Read(block.data(), block.size()));
    file.Seek(static_cast<std::int64_t>(position), CRawFile::begin);
    PacketLayout layout = DetectPacketLayout(block.data(), block.size());
    layout.firstSync += from;
    return layout;
}
