// ReadPacket, NextPacket and GetPayload over arbitrary bytes. The first 16
// bytes of the input choose the reading pattern: each pair is a step (read
// packets by copy or in place, or seek to a position given by the pair) so
// that resync starts at any offset. A packet taken in place must be the one
// a copying read gives at the same position.

#include <cstdint>
#include <cstring>

#include "demux/mpeg_ts_demux.h"
#include "fuzz_input_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 16) return 0;
    // One file object for the whole run: its 4 MiB read buffer is allocated once.
    static CRawFile file;
    if (!OpenFuzzRecording(file, data + 16, size - 16)) return 0;
    // Swapped reading costs a 4 MiB copy per buffer fill: one input in 16.
    file.SetUnswapped((data[0] & 0x0F) == 1 ? 0 : 1);
    CMpegTsDemux demux;
    demux.SetRecording(file);
    std::uint8_t packet[kTsReadSize];
    std::uint8_t copy[kTsReadSize];
    std::uint8_t payload[kTsPayloadSize];
    std::int32_t last = -1;
    for (int step = 0; step < 8; ++step) {
        const std::uint8_t a = data[2 * step], b = data[2 * step + 1];
        if (a & 0x80) {
            file.Seek(((a & 0x7F) << 8) | b, CRawFile::begin);
            continue;
        }
        const bool inPlace = (a & 0x40) != 0;
        for (int n = 0; n <= b; ++n) {
            const std::uint64_t before = file.GetPosition();
            if (inPlace) {
                const std::uint8_t* held = nullptr;
                const int result = demux.NextPacket(held);
                const std::uint64_t after = file.GetPosition();
                if (result != 0) std::memcpy(packet, held, kTsReadSize);
                file.Seek(static_cast<std::int64_t>(before), CRawFile::begin);
                if (demux.ReadPacket(copy) != result || file.GetPosition() != after) __builtin_trap();
                if (result == 0) break;
                if (std::memcmp(packet, copy, kTsPacketSize) != 0) __builtin_trap();
            } else if (demux.ReadPacket(packet) == 0) {
                break;
            }
            int length = -1;
            if (CMpegTsDemux::GetPayload(packet, payload, length)) {
                if (length <= 0 || length > kTsPayloadSize) __builtin_trap();
                std::int64_t pts = 0;
                ReadPesPts(payload, length, pts);
            }
            CMpegTsDemux::CheckContinuity(last, TsContinuity(packet));
        }
    }
    return 0;
}
