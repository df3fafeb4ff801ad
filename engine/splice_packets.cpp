#include "engine/splice_packets.h"

#include <algorithm>

namespace {
constexpr std::size_t kTsPacketSize = 188;
constexpr std::size_t kTsHeaderSize = 4;
constexpr std::uint8_t kDiscontinuityIndicator = 0x80;
constexpr std::uint8_t kStuffing = 0xFF;

// The fields of an adaptation field before its stuffing (ISO/IEC 13818-1
// 2.4.3.4): the flags byte, PCR, OPCR, splice countdown, private data and
// extension, each present as its flag says.
std::size_t usedLength(const std::uint8_t* field, std::size_t length) {
    if (length == 0) return 0;
    const std::uint8_t flags = field[0];
    std::size_t used = 1;
    if (flags & 0x10) used += 6;  // PCR
    if (flags & 0x08) used += 6;  // OPCR
    if (flags & 0x04) used += 1;  // splice_countdown
    if ((flags & 0x02) && used < length) used += 1 + field[used];  // private data
    if ((flags & 0x01) && used < length) used += 1 + field[used];  // extension
    return std::min(used, length);
}
}  // namespace

CSplicePackets::CSplicePackets(std::size_t packetSize)
    : m_packetSize(packetSize), m_syncAt(packetSize > kTsPacketSize ? packetSize - kTsPacketSize : 0) {}

bool CSplicePackets::MarkDiscontinuity(std::uint8_t* packet) {
    if ((packet[3] & 0x20) == 0 || packet[4] == 0) return false;
    packet[5] |= kDiscontinuityIndicator;
    return true;
}

void CSplicePackets::put(std::vector<std::uint8_t>& out, const std::uint8_t* prefix,
                         std::uint8_t flags, std::uint16_t pid, int continuity,
                         const std::vector<std::uint8_t>& adaptation, const std::uint8_t* payload,
                         std::size_t count) const {
    out.insert(out.end(), prefix, prefix + m_syncAt);
    out.push_back(0x47);
    out.push_back(static_cast<std::uint8_t>(flags | (pid >> 8)));
    out.push_back(static_cast<std::uint8_t>(pid & 0xFF));
    // The adaptation field holds what the packet needs beyond its payload.
    const std::size_t room = kTsPacketSize - kTsHeaderSize - count;
    const bool withField = room > 0 || !adaptation.empty();
    out.push_back(static_cast<std::uint8_t>((withField ? 0x30 : 0x10) | (continuity & 0x0F)));
    if (withField) {
        const std::size_t length = room - 1;  // the length byte itself counts in room
        out.push_back(static_cast<std::uint8_t>(length));
        if (length > 0) {
            std::vector<std::uint8_t> field = adaptation;
            if (field.empty()) field.push_back(0);  // no flags set
            field.resize(length, kStuffing);
            out.insert(out.end(), field.begin(), field.end());
        }
    }
    out.insert(out.end(), payload, payload + count);
}

std::vector<std::uint8_t> CSplicePackets::Repack(const std::uint8_t* raw, std::size_t videoAt,
                                                 const std::vector<std::uint8_t>& video,
                                                 bool markDiscontinuity) const {
    const std::uint8_t* prefix = raw;
    const std::uint8_t* ts = raw + m_syncAt;
    const std::uint16_t pid = static_cast<std::uint16_t>(((ts[1] & 0x1F) << 8) | ts[2]);
    const std::uint8_t firstFlags = ts[1] & 0x60;  // payload_unit_start, priority
    const int continuity = ts[3] & 0x0F;
    std::size_t payloadAt = kTsHeaderSize;
    std::vector<std::uint8_t> adaptation;
    if (ts[3] & 0x20) {
        const std::size_t length = std::min<std::size_t>(ts[4], kTsPacketSize - 5);
        adaptation.assign(ts + 5, ts + 5 + usedLength(ts + 5, length));
        if (markDiscontinuity && !adaptation.empty()) adaptation[0] |= kDiscontinuityIndicator;
        payloadAt += 1 + length;
    }
    const std::size_t videoStart = std::max(videoAt, m_syncAt + payloadAt) - m_syncAt;
    // The PES header stays; a stated length grows with the video bytes.
    std::vector<std::uint8_t> head(ts + std::min(payloadAt, kTsPacketSize),
                                   ts + std::min(videoStart, kTsPacketSize));
    if (head.size() >= 6) {
        const std::size_t stated = (head[4] << 8) | head[5];
        const std::size_t before = kTsPacketSize - std::min(videoStart, kTsPacketSize);
        std::size_t now = stated + video.size() - std::min(before, stated + video.size());
        if (stated == 0 || now > 0xFFFF) now = 0;  // video PES packets may leave it open
        head[4] = static_cast<std::uint8_t>(now >> 8);
        head[5] = static_cast<std::uint8_t>(now & 0xFF);
    }
    std::vector<std::uint8_t> payload = head;
    payload.insert(payload.end(), video.begin(), video.end());

    // How many packets: the first keeps the adaptation field.
    const std::size_t firstRoom =
        kTsPacketSize - kTsHeaderSize - (adaptation.empty() ? 0 : 1 + adaptation.size());
    std::size_t packets = 1;
    if (payload.size() > firstRoom)
        packets += (payload.size() - firstRoom + (kTsPacketSize - kTsHeaderSize) - 1) /
                   (kTsPacketSize - kTsHeaderSize);
    std::vector<std::uint8_t> out;
    out.reserve(packets * m_packetSize);
    std::size_t at = 0;
    for (std::size_t i = 0; i < packets; ++i) {
        const std::size_t room = i == 0 ? firstRoom : kTsPacketSize - kTsHeaderSize;
        const std::size_t count = std::min(room, payload.size() - at);
        const int cc = (continuity - static_cast<int>(packets - 1 - i) + 16 * 16) % 16;
        put(out, prefix, i == 0 ? firstFlags : static_cast<std::uint8_t>(firstFlags & 0x20), pid,
            cc, i == 0 ? adaptation : std::vector<std::uint8_t>{}, payload.data() + at, count);
        at += count;
    }
    return out;
}
