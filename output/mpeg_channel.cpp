#include "output/mpeg_channel.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "output/mpeg_channel_exception.h"
#include "output/output_file.h"
#include "shell/log.h"

namespace {
constexpr std::int32_t kVideoRing = 10;
constexpr std::int32_t kOtherRing = 30;
}  // namespace

CMpegChannel::CMpegChannel(std::int32_t streamType, std::uint16_t pid,
                           std::int32_t bufferCapacity)
    : m_streamType(streamType),
      m_pid(pid),
      m_bufferCapacity(bufferCapacity < 0 ? 0 : bufferCapacity) {
    m_buffer.reserve(static_cast<std::size_t>(m_bufferCapacity));
    SetRingSize(streamType == 2 ? kVideoRing : kOtherRing);
}

CMpegChannel::~CMpegChannel() = default;

void CMpegChannel::SetRingSize(std::int32_t n) {
    if (n < 2) n = 2;  // a ring of one slot could never hold a packet
    m_packets.clear();
    m_packets.resize(static_cast<std::size_t>(n));
    m_ringCapacity = n;
    m_head = m_tail = 0;
}

void CMpegChannel::GrowRing(std::int32_t n) {
    if (n <= m_ringCapacity) return;
    std::vector<CMpegPacket> packets(static_cast<std::size_t>(n));
    const std::int32_t count = m_head - m_tail;
    for (std::int32_t i = 0; i < count; ++i)
        packets[static_cast<std::size_t>(i)] =
            std::move(m_packets[static_cast<std::size_t>((m_tail + i) % m_ringCapacity)]);
    m_packets = std::move(packets);
    m_ringCapacity = n;
    m_tail = 0;
    m_head = count;
}

CMpegPacket& CMpegChannel::ReserveHead() {
    // Full at capacity - 1 packets: one more would make head and tail meet.
    // The check comes before the store so the oldest packet is never clobbered.
    if (m_head - m_tail >= m_ringCapacity - 1) {
        LogWrite("Channel::Add(): PES Buffer Full!!!", 1);
        throw CMpegChannelException("PES Buffer Full!!!");
    }
    return m_packets[static_cast<std::size_t>(m_head % m_ringCapacity)];
}

void CMpegChannel::Add(const CMpegPacket& packet) {
    CMpegPacket copy = packet;
    Add(std::move(copy));
}

void CMpegChannel::Add(CMpegPacket&& packet) {
    ReserveHead() = std::move(packet);
    ++m_head;
    ++m_added;
    if (m_head > m_ringCapacity && m_tail > m_ringCapacity) {
        m_head -= m_ringCapacity;
        m_tail -= m_ringCapacity;
    }
}

CMpegPacket& CMpegChannel::GetTail() {
    if (m_head == m_tail) {
        LogWrite("Channel::GetTail() failed", 1);
        throw std::logic_error("Channel::GetTail() failed");
    }
    return m_packets[static_cast<std::size_t>(m_tail % m_ringCapacity)];
}

void CMpegChannel::RemoveTail() {
    if (m_head == m_tail) return;
    m_packets[static_cast<std::size_t>(m_tail % m_ringCapacity)].Release();
    ++m_tail;
}

void CMpegChannel::SetCountersForTesting(std::int32_t head, std::int32_t tail) {
    m_head = head;
    m_tail = tail;
}

void CMpegChannel::Append(const std::uint8_t* bytes, std::int32_t n) {
    if (n <= 0) return;
    if (static_cast<std::int64_t>(m_buffer.size()) + n < m_bufferCapacity) {
        m_buffer.insert(m_buffer.end(), bytes, bytes + n);
        return;
    }
    LogWrite("MPEG Buffer Full!!!, StreamType: " + std::to_string(m_streamType), 1);
    throw CMpegChannelException("Buffer Full!!!");
}

void CMpegChannel::TruncateBuffer(std::int32_t length) {
    if (length >= 0 && static_cast<std::size_t>(length) < m_buffer.size())
        m_buffer.resize(static_cast<std::size_t>(length));
}

void CMpegChannel::SetBufferCapacity(std::int32_t capacity) {
    m_bufferCapacity = std::max(capacity, static_cast<std::int32_t>(m_buffer.size()) + 1);
    m_buffer.reserve(static_cast<std::size_t>(m_bufferCapacity));
}

std::vector<std::uint8_t> CMpegChannel::TakeBuffer(std::int32_t length) {
    std::vector<std::uint8_t> unit;
    unit.swap(m_buffer);
    unit.resize(std::min(unit.size(), static_cast<std::size_t>(std::max(length, 0))));
    m_buffer.reserve(static_cast<std::size_t>(m_bufferCapacity));
    return unit;
}

std::string CMpegChannel::FormatTime(std::uint64_t timeStamp) const {
    // Counted on the 33-bit circle: a stamp that wrapped past 2^33 since the
    // stream's start is later, not 26 hours earlier.
    constexpr std::uint64_t kStampMask = (std::uint64_t{1} << 33) - 1;
    const auto ms = static_cast<std::uint32_t>(((timeStamp - m_startPTS) & kStampMask) / 90);
    std::string milli = "000" + std::to_string(ms % 1000);
    milli = milli.substr(milli.size() - 3);
    auto two = [](std::uint32_t v) { return (v < 10 ? "0" : "") + std::to_string(v); };
    return std::to_string(ms / 3600000) + ":" + two((ms / 60000) % 60) + ":" +
           two((ms / 1000) % 60) + "," + milli;
}
