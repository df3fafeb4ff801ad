#include "engine/h264_renumberer.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "codec/nal_unit.h"

namespace {
// frame_num and pic_order_cnt_lsb lie within the first 20 bytes of a slice
// header whatever its fields hold; a little more leaves room for
// emulation-prevention bytes.
constexpr std::size_t kHeaderBytes = 48;
}  // namespace

bool CH264Renumberer::applyPending(std::uint8_t* buffer, const std::vector<Packet>& packets) {
    if (m_pending.empty()) return false;
    bool changed = false;
    std::vector<PendingByte> later;
    const std::uint64_t first = packets.empty() ? UINT64_MAX : packets.front().origin;
    for (const PendingByte& byte : m_pending) {
        bool applied = false;
        for (const Packet& packet : packets) {
            if (byte.position < packet.origin) continue;
            const std::uint64_t offset = byte.position - packet.origin;
            const std::size_t index = packet.packetAt + static_cast<std::size_t>(offset);
            if (offset > packet.payloadTo - packet.packetAt || index < packet.payloadFrom ||
                index >= packet.payloadTo)
                continue;
            buffer[index] = byte.value;
            applied = changed = true;
            break;
        }
        // A byte of a packet behind these was passed by (it went with a cut).
        if (!applied && byte.position >= first) later.push_back(byte);
    }
    m_pending = std::move(later);
    return changed;
}

bool CH264Renumberer::Process(std::uint8_t* buffer, const std::vector<Packet>& packets,
                              const LookAhead& lookAhead) {
    bool changed = applyPending(buffer, packets);
    for (std::size_t p = 0; p < packets.size() && m_state.active; ++p) {
        const std::size_t end = packets[p].payloadTo;
        std::size_t i = packets[p].payloadFrom;
        // A start code begun at the end of the video before.
        while (i < end && m_state.prefix != 0) {
            if (m_state.prefix == 3) {
                m_state.prefix = 0;
                changed |= onNalUnit(buffer, packets, p, i, lookAhead);
                if (!m_state.active) return changed;
                ++i;
                break;
            }
            const std::uint8_t byte = buffer[i++];
            if (byte == 0)
                m_state.prefix = std::min<std::uint8_t>(static_cast<std::uint8_t>(m_state.prefix + 1), 2);
            else
                m_state.prefix = byte == 1 && m_state.prefix == 2 ? 3 : 0;
        }
        if (i >= end) continue;
        // 00 00 01 within the payload: compressed data holds few 01 bytes.
        std::size_t from = i;
        bool carried = false;
        while (from < end) {
            const void* hit = std::memchr(buffer + from, 1, end - from);
            if (hit == nullptr) break;
            const auto j = static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - buffer);
            from = j + 1;
            if (j < i + 2 || buffer[j - 1] != 0 || buffer[j - 2] != 0) continue;
            if (j + 1 >= end) {
                m_state.prefix = 3;  // the header byte is in the next video packet
                carried = true;
                break;
            }
            changed |= onNalUnit(buffer, packets, p, j + 1, lookAhead);
            if (!m_state.active) return changed;
        }
        if (carried) continue;
        m_state.prefix = 0;
        if (buffer[end - 1] == 0)
            m_state.prefix = end >= i + 2 && buffer[end - 2] == 0 ? 2 : 1;
    }
    return changed;
}

bool CH264Renumberer::onNalUnit(std::uint8_t* buffer, const std::vector<Packet>& packets,
                                std::size_t index, std::size_t at, const LookAhead& lookAhead) {
    const std::uint8_t header = buffer[at];
    if ((header & 0x80) != 0) return false;
    const int type = codec::h264::NalType(header);
    if (type == codec::h264::kIdrSlice) {
        m_state.active = false;  // the numbering starts anew
        return false;
    }
    if (type != codec::h264::kSlice) return false;

    // The header's first bytes, from this packet on; where each came from.
    std::array<std::uint8_t, kHeaderBytes> bytes{};
    std::array<std::size_t, kHeaderBytes> inBuffer{};  // SIZE_MAX: from the source
    std::array<std::uint64_t, kHeaderBytes> inSource{};
    std::size_t n = 0;
    for (std::size_t p = index, i = at; p < packets.size() && n < kHeaderBytes; ++p) {
        if (p != index) i = packets[p].payloadFrom;
        for (; i < packets[p].payloadTo && n < kHeaderBytes; ++i, ++n) {
            bytes[n] = buffer[i];
            inBuffer[n] = i;
        }
    }
    if (n < kHeaderBytes && lookAhead) {
        const std::size_t more = lookAhead(bytes.data() + n, inSource.data() + n, kHeaderBytes - n);
        for (std::size_t k = n; k < n + more; ++k)
            inBuffer[k] = SIZE_MAX;
        n += more;
    }
    // Up to the next start code: what follows is another NAL unit.
    for (std::size_t k = 1; k + 2 < n; ++k) {
        if (bytes[k] == 0 && bytes[k + 1] == 0 && bytes[k + 2] == 1) {
            n = k;
            break;
        }
    }
    const std::array<std::uint8_t, kHeaderBytes> original = bytes;
    const codec::h264::RenumberResult result = codec::h264::RenumberSlice(
        bytes.data(), n, m_state.numbering, m_state.frameNumDelta, m_state.pocLsbDelta);
    if (result != codec::h264::RenumberResult::Renumbered) {
        fail(packets[index].origin + (at - packets[index].packetAt));
        return false;
    }
    bool changed = false;
    for (std::size_t k = 0; k < n; ++k) {
        if (bytes[k] == original[k]) continue;
        if (inBuffer[k] != SIZE_MAX) {
            buffer[inBuffer[k]] = bytes[k];
            changed = true;
        } else {
            m_pending.push_back({inSource[k], bytes[k]});
        }
    }
    return changed;
}

void CH264Renumberer::fail(std::uint64_t position) {
    if (m_failures++ == 0) m_firstFailure = position;
}
