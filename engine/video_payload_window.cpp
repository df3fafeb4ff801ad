#include "engine/video_payload_window.h"

#include <algorithm>

#include "demux/raw_file.h"
#include "demux/start_code.h"

namespace {
constexpr std::uint64_t kPacketSize = 188;  // the transport packet itself
constexpr std::uint8_t kSyncByte = 0x47;
}  // namespace

CVideoPayloadWindow::CVideoPayloadWindow(CRawFile& file, std::uint16_t videoPid,
                                         std::uint64_t syncOffset, std::uint64_t packetSize)
    : m_file(file),
      m_videoPid(videoPid),
      m_packetSize(packetSize < kPacketSize ? kPacketSize : packetSize),
      m_syncAt(m_packetSize - kPacketSize),
      m_syncOffset(syncOffset % m_packetSize) {}

// A packet start: its sync byte and the next packet's (when that is held), so
// that a stray 0x47 in damaged data is not taken for one.
bool CVideoPayloadWindow::isPacketAt(std::size_t at) const {
    if (at + m_packetSize > m_raw.size() || m_raw[at + m_syncAt] != kSyncByte) return false;
    return at + m_packetSize + m_syncAt >= m_raw.size() ||
           m_raw[at + m_packetSize + m_syncAt] == kSyncByte;
}

std::uint64_t CVideoPayloadWindow::PacketStartAtOrAfter(std::uint64_t position) const {
    if (position <= m_syncOffset) return m_syncOffset;
    std::uint64_t past = (position - m_syncOffset) % m_packetSize;
    return past == 0 ? position : position + (m_packetSize - past);
}

void CVideoPayloadWindow::Load(std::uint64_t from, std::uint64_t to) {
    m_es.clear();
    m_packets.clear();
    const std::uint64_t first = PacketStartAtOrAfter(from);
    if (first >= to) return;
    // One packet more than the stretch, to confirm the last packet's sync.
    m_raw.resize(static_cast<std::size_t>(to - first + m_packetSize));
    m_file.Seek(static_cast<std::int64_t>(first), CRawFile::begin);
    m_raw.resize(m_file.Read(m_raw.data(), m_raw.size()));
    const std::size_t limit = static_cast<std::size_t>(to - first);
    std::size_t at = 0;
    while (at < limit && at + m_packetSize <= m_raw.size()) {
        if (!isPacketAt(at)) {
            ++at;  // lost sync: look for the next packet start
            continue;
        }
        appendPayload(m_raw.data() + at + m_syncAt, first + at);
        at += m_packetSize;
    }
}

void CVideoPayloadWindow::appendPayload(const std::uint8_t* packet, std::uint64_t position) {
    const std::uint16_t pid = static_cast<std::uint16_t>(((packet[1] & 0x1F) << 8) | packet[2]);
    const bool transportError = (packet[1] & 0x80) != 0;
    const bool scrambled = (packet[3] & 0xC0) != 0;
    const int adaptation = (packet[3] >> 4) & 3;
    if (pid != m_videoPid || transportError || scrambled || (adaptation & 1) == 0) return;
    std::size_t offset = 4;
    if (adaptation & 2) offset += 1 + packet[4];
    if (offset >= kPacketSize) return;
    // A PES header starts the payload of a unit start; its fields are no
    // video data (and must not be taken for start codes).
    const bool unitStart = (packet[1] & 0x40) != 0;
    if (unitStart && offset + 9 <= kPacketSize && packet[offset] == 0 && packet[offset + 1] == 0 &&
        packet[offset + 2] == 1) {
        offset += 9 + packet[offset + 8];
        if (offset >= kPacketSize) return;
    }
    m_packets.push_back({m_es.size(), position});
    m_es.insert(m_es.end(), packet + offset, packet + kPacketSize);
}

std::size_t CVideoPayloadWindow::FindStartCode(std::size_t from, std::uint8_t code) const {
    return ::FindStartCode(m_es.data(), m_es.size(), from, code);
}

std::uint64_t CVideoPayloadWindow::FindVideoPacketBack(std::size_t index) const {
    // The last packet whose payload begins at or before the byte.
    auto after =
        std::upper_bound(m_packets.begin(), m_packets.end(), index,
                         [](std::size_t i, const PacketRef& ref) { return i < ref.esStart; });
    return after == m_packets.begin() ? 0 : std::prev(after)->position;
}

int CVideoPayloadWindow::PictureCodingType(std::size_t index) const {
    // picture_start_code, temporal_reference (10 bits), picture_coding_type (3 bits)
    if (index + 5 >= m_es.size()) return 0;
    return (m_es[index + 5] >> 3) & 7;
}

bool CVideoPayloadWindow::IsClosedGop(std::size_t index) const {
    // group_start_code, time_code (25 bits), closed_gop, broken_link
    if (index + 7 >= m_es.size()) return false;
    return (m_es[index + 7] & 0x40) != 0;
}
