#include "engine/video_payload_window.h"

#include <algorithm>

#include "demux/mpeg_ts_demux.h"
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

// A packet start: its sync byte and the next packet's (when that was read),
// so that a stray 0x47 in damaged data is not taken for one. `at` counts
// from the stretch's first packet; the chunk holds it and the next packet
// unless the stretch ends first.
bool CVideoPayloadWindow::isPacketAt(std::size_t at) const {
    const std::size_t local = at - m_chunkFrom;
    const std::uint8_t* chunk = m_chunk.data();
    if (at + m_packetSize > m_rawSize || chunk[local + m_syncAt] != kSyncByte) return false;
    return at + m_packetSize + m_syncAt >= m_rawSize ||
           chunk[local + m_packetSize + m_syncAt] == kSyncByte;
}

std::uint64_t CVideoPayloadWindow::PacketStartAtOrAfter(std::uint64_t position) const {
    if (position <= m_syncOffset) return m_syncOffset;
    std::uint64_t past = (position - m_syncOffset) % m_packetSize;
    return past == 0 ? position : position + (m_packetSize - past);
}

void CVideoPayloadWindow::Load(std::uint64_t from, std::uint64_t to) {
    m_es.clear();
    m_packets.clear();
    m_pesHeaders.clear();
    m_unitStarts.clear();
    m_pcrPackets.clear();
    m_copies.clear();
    const std::uint64_t first = PacketStartAtOrAfter(from);
    m_loadedFrom = first;
    m_loadedTo = first;
    m_rawSize = 0;
    m_chunkFrom = 0;
    m_chunkEnd = 0;
    if (first >= to) return;
    m_loadedTo = to;
    // One packet more than the stretch, to confirm the last packet's sync.
    m_wanted = static_cast<std::size_t>(to - first + m_packetSize);
    m_readEnded = false;
    const std::size_t limit = static_cast<std::size_t>(to - first);
    // Every byte read may be video (an upper bound, so the stream is never
    // moved while it grows), with some room: stretches of one size differ
    // by a few bytes where their packets lie.
    if (m_es.capacity() < limit) m_es.reserve(limit + limit / 16);
    const std::size_t packets = limit / m_packetSize + 1;
    if (m_packets.capacity() < packets) m_packets.reserve(packets + packets / 16);
    std::size_t at = 0;
    while (at < limit) {
        if (!m_readEnded && at + 2 * m_packetSize > m_chunkEnd) readOn(at);
        if (at + m_packetSize > m_chunkEnd) break;
        if (!isPacketAt(at)) {
            ++at;  // lost sync: look for the next packet start
            continue;
        }
        appendPayload(m_chunk.data() + (at - m_chunkFrom) + m_syncAt, first + at);
        at += m_packetSize;
    }
    // How much the stretch holds decides which packets PacketAt gives.
    while (!m_readEnded)
        readOn(m_chunkEnd);
}

void CVideoPayloadWindow::readOn(std::size_t keepFrom) {
    // The stretch is read a chunk at a time (which stays in the processor's
    // cache while its packets are taken apart), keeping what is not yet
    // looked at.
    constexpr std::size_t kChunk = 1 << 20;
    if (m_chunk.size() < kChunk + 4 * m_packetSize) m_chunk.resize(kChunk + 4 * m_packetSize);
    keepFrom = std::min(keepFrom, m_chunkEnd);
    const std::size_t kept = m_chunkEnd - keepFrom;
    std::copy(m_chunk.begin() + static_cast<std::ptrdiff_t>(keepFrom - m_chunkFrom),
              m_chunk.begin() + static_cast<std::ptrdiff_t>(m_chunkEnd - m_chunkFrom),
              m_chunk.begin());
    m_chunkFrom = keepFrom;
    const std::size_t count = std::min(m_chunk.size() - kept, m_wanted - m_chunkEnd);
    m_file.Seek(static_cast<std::int64_t>(m_loadedFrom + m_chunkEnd), CRawFile::begin);
    const std::size_t read = m_file.Read(m_chunk.data() + kept, count);
    m_chunkEnd += read;
    m_rawSize = m_chunkEnd;
    m_readEnded = read < count || m_chunkEnd >= m_wanted;
}

void CVideoPayloadWindow::appendPayload(const std::uint8_t* packet, std::uint64_t position) {
    const std::uint16_t pid = static_cast<std::uint16_t>(((packet[1] & 0x1F) << 8) | packet[2]);
    const bool transportError = (packet[1] & 0x80) != 0;
    const bool scrambled = (packet[3] & 0xC0) != 0;
    const int adaptation = (packet[3] >> 4) & 3;
    if (pid != m_videoPid) {
        noteOtherPacket(packet, position);
        return;
    }
    if ((adaptation & 2) && packet[4] > 0 && (packet[5] & 0x10) != 0)
        m_pcrPackets.push_back(position);
    if (transportError || scrambled || (adaptation & 1) == 0) return;
    std::size_t offset = 4;
    if (adaptation & 2) offset += 1 + packet[4];
    if (offset >= kPacketSize) return;
    // A PES header starts the payload of a unit start; its fields are no
    // video data (and must not be taken for start codes).
    const bool unitStart = (packet[1] & 0x40) != 0;
    if (unitStart && offset + 9 <= kPacketSize && packet[offset] == 0 && packet[offset + 1] == 0 &&
        packet[offset + 2] == 1) {
        PesHeader header;
        header.position = position;
        header.hasPts = ReadPesPts(packet + offset, static_cast<int>(kPacketSize - offset), header.pts);
        offset += 9 + packet[offset + 8];
        header.esIndex = m_es.size();
        m_pesHeaders.push_back(header);
        if (offset >= kPacketSize) return;
    }
    m_packets.push_back(
        {m_es.size(), position, static_cast<std::uint32_t>(offset + m_syncAt)});
    m_es.insert(m_es.end(), packet + offset, packet + kPacketSize);
}

void CVideoPayloadWindow::noteOtherPacket(const std::uint8_t* packet, std::uint64_t position) {
    const std::uint16_t pid = static_cast<std::uint16_t>(((packet[1] & 0x1F) << 8) | packet[2]);
    const int adaptation = (packet[3] >> 4) & 3;
    if ((adaptation & 2) && packet[4] > 0 && (packet[5] & 0x10) != 0)
        m_pcrPackets.push_back(position);
    if (!m_unitPids.contains(pid) || (packet[1] & 0x80) != 0 || (packet[1] & 0x40) == 0 ||
        (packet[3] & 0xC0) != 0 || (adaptation & 1) == 0)
        return;
    std::size_t offset = 4;
    if (adaptation & 2) offset += 1 + packet[4];
    if (offset + 9 > kPacketSize || packet[offset] != 0 || packet[offset + 1] != 0 ||
        packet[offset + 2] != 1)
        return;  // a section, or a damaged unit start
    UnitStart start;
    start.pid = pid;
    start.position = position;
    start.hasPts = ReadPesPts(packet + offset, static_cast<int>(kPacketSize - offset), start.pts);
    m_unitStarts.push_back(start);
}

const CVideoPayloadWindow::PesHeader* CVideoPayloadWindow::PesHeaderOf(std::size_t index) const {
    auto after = std::upper_bound(
        m_pesHeaders.begin(), m_pesHeaders.end(), index,
        [](std::size_t i, const PesHeader& header) { return i < header.esIndex; });
    return after == m_pesHeaders.begin() ? nullptr : &*std::prev(after);
}

const CVideoPayloadWindow::PacketRef* CVideoPayloadWindow::refOf(std::size_t index) const {
    auto after =
        std::upper_bound(m_packets.begin(), m_packets.end(), index,
                         [](std::size_t i, const PacketRef& ref) { return i < ref.esStart; });
    return after == m_packets.begin() ? nullptr : &*std::prev(after);
}

std::uint64_t CVideoPayloadWindow::FilePositionOf(std::size_t index) const {
    const PacketRef* ref = refOf(index);
    return ref == nullptr ? 0 : ref->position + ref->payloadAt + (index - ref->esStart);
}

bool CVideoPayloadWindow::VideoBytesOf(std::uint64_t position, std::size_t* esStart,
                                       std::size_t* count, std::size_t* payloadAt) const {
    auto it = std::lower_bound(
        m_packets.begin(), m_packets.end(), position,
        [](const PacketRef& ref, std::uint64_t p) { return ref.position < p; });
    if (it == m_packets.end() || it->position != position) return false;
    *esStart = it->esStart;
    *count = (std::next(it) == m_packets.end() ? m_es.size() : std::next(it)->esStart) - it->esStart;
    *payloadAt = it->payloadAt;
    return true;
}

std::size_t CVideoPayloadWindow::VideoPacketsIn(std::uint64_t from, std::uint64_t to) const {
    auto position = [](const PacketRef& ref, std::uint64_t p) { return ref.position < p; };
    const auto first = std::lower_bound(m_packets.begin(), m_packets.end(), from, position);
    const auto last = std::lower_bound(m_packets.begin(), m_packets.end(), to, position);
    return static_cast<std::size_t>(last - first);
}

const std::uint8_t* CVideoPayloadWindow::PacketAt(std::uint64_t position) const {
    if (position < m_loadedFrom || position + m_packetSize > m_loadedFrom + m_rawSize)
        return nullptr;
    auto copy = m_copies.find(position);
    if (copy == m_copies.end()) {
        // Read again: the stretch is not kept, and few packets are asked for.
        std::vector<std::uint8_t> bytes(m_packetSize);
        m_file.Seek(static_cast<std::int64_t>(position), CRawFile::begin);
        if (m_file.Read(bytes.data(), bytes.size()) != bytes.size()) return nullptr;
        copy = m_copies.emplace(position, std::move(bytes)).first;
    }
    return copy->second.data();
}

std::size_t CVideoPayloadWindow::FindStartCode(std::size_t from, std::uint8_t code) const {
    return ::FindStartCode(m_es.data(), m_es.size(), from, code);
}

std::uint64_t CVideoPayloadWindow::FindVideoPacketBack(std::size_t index) const {
    // The last packet whose payload begins at or before the byte.
    const PacketRef* ref = refOf(index);
    return ref == nullptr ? 0 : ref->position;
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
