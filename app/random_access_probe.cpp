#include "app/random_access_probe.h"

#include "codec/h264_access_unit_scanner.h"
#include "demux/mpeg_ts_demux.h"
#include "demux/raw_file.h"

namespace {
// Broadcasters put a random-access point into every second or two; 24 MiB
// hold more than ten seconds of a 16 Mbit/s stream.
constexpr std::uint64_t kProbeBytes = 24u << 20;

bool isVideoPesHeader(const std::uint8_t* p, int n) {
    return n >= 9 && p[0] == 0 && p[1] == 0 && p[2] == 1 && p[3] >= 0xE0 && p[3] <= 0xEF;
}
}  // namespace

std::int32_t ProbeRandomAccessMarks(CRawFile& recording, std::uint16_t videoPid) {
    const std::uint64_t before = recording.GetPosition();
    CMpegTsDemux packets;
    packets.SetRecording(recording);
    recording.SeekToStart();
    codec::H264AccessUnitScanner scanner;
    bool intraSeen = false;
    const std::uint64_t length = recording.GetLength();
    std::uint8_t packet[kTsReadSize];
    std::uint8_t payload[kTsPayloadSize];
    while (!scanner.SawRandomAccessMarks() && recording.GetPosition() < kProbeBytes &&
           recording.GetPosition() + kTsReadSize <= length) {
        if (packets.ReadPacket(packet) == 0) continue;
        int n = 0;
        // adaptation_field_control 00 is reserved: such a packet is damaged.
        if (TsPid(packet) != videoPid || ((packet[3] >> 4) & 3) == 0 ||
            !CMpegTsDemux::GetPayload(packet, payload, n))
            continue;
        const std::uint8_t* data = payload;
        if (isVideoPesHeader(data, n)) {
            const int header = 9 + data[8];
            if (header >= n) continue;
            data += header;
            n -= header;
        }
        scanner.Feed(data, static_cast<std::size_t>(n));
        for (const codec::AccessUnit& unit : scanner.TakeUnits())
            intraSeen = intraSeen || (unit.decodable && unit.pictureType == 1);
    }
    recording.Seek(static_cast<std::int64_t>(before), CRawFile::begin);
    if (scanner.SawRandomAccessMarks()) return 1;
    return intraSeen ? 2 : 0;
}
