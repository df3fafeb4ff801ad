#include "engine/unit_filter.h"

#include <algorithm>

namespace {
constexpr std::size_t kTsPacketSize = 188;
constexpr std::uint8_t kSyncByte = 0x47;

std::uint16_t pidOf(const std::uint8_t* packet) {
    return static_cast<std::uint16_t>(((packet[1] & 0x1F) << 8) | packet[2]);
}
}  // namespace

CUnitFilter::CUnitFilter(std::uint16_t videoPid, std::size_t packetSize)
    : m_videoPid(videoPid),
      m_packetSize(packetSize),
      m_syncAt(packetSize > kTsPacketSize ? packetSize - kTsPacketSize : 0) {}

std::size_t CUnitFilter::VideoPayloadAt(const std::uint8_t* packet) {
    const bool damaged = (packet[1] & 0x80) != 0 || (packet[3] & 0xC0) != 0;
    const int adaptation = (packet[3] >> 4) & 3;
    if (damaged || (adaptation & 1) == 0) return 0;
    std::size_t offset = 4;
    if (adaptation & 2) offset += 1 + packet[4];
    if (offset >= kTsPacketSize) return 0;
    const bool unitStart = (packet[1] & 0x40) != 0;
    if (unitStart && offset + 9 <= kTsPacketSize && packet[offset] == 0 &&
        packet[offset + 1] == 0 && packet[offset + 2] == 1) {
        offset += 9 + packet[offset + 8];
        if (offset >= kTsPacketSize) return 0;
    }
    return offset;
}

const UnitRule* CUnitFilter::ruleFor(std::uint16_t pid, std::uint64_t position) const {
    for (const UnitRule* rule : m_candidates)
        if (rule->pid == pid && rule->from <= position && position < rule->to) return rule;
    return nullptr;
}

void CUnitFilter::noteVideo(const std::vector<std::uint8_t>& out, std::size_t at,
                            std::uint64_t origin,
                            std::vector<CH264Renumberer::Packet>& video) const {
    const std::uint8_t* packet = out.data() + at + m_syncAt;
    if (packet[0] != kSyncByte || pidOf(packet) != m_videoPid) return;
    const std::size_t payload = VideoPayloadAt(packet);
    if (payload == 0) return;
    video.push_back({at + m_syncAt + payload, at + m_packetSize, at, origin});
}

bool CUnitFilter::Filter(const std::uint8_t* in, std::size_t count, std::uint64_t position,
                         bool withRules, bool keepByDefault, std::vector<std::uint8_t>& out,
                         std::vector<CH264Renumberer::Packet>* video) {
    out.clear();
    if (video) video->clear();
    m_candidates.clear();
    if (withRules && m_rules != nullptr) {
        const std::uint64_t end = position + count;
        for (const UnitRule& rule : *m_rules) {
            if (rule.from >= end) break;
            if (rule.to > position) m_candidates.push_back(&rule);
        }
    }
    bool changed = false;
    for (std::size_t at = 0; at < count; at += m_packetSize) {
        const std::size_t size = std::min(m_packetSize, count - at);
        const std::uint8_t* unit = in + at;
        const bool whole = size == m_packetSize && unit[m_syncAt] == kSyncByte;
        const std::uint64_t here = position + at;
        const UnitRule* rule = whole && withRules ? ruleFor(pidOf(unit + m_syncAt), here) : nullptr;
        bool keep = !withRules || keepByDefault || !whole;
        if (rule != nullptr) keep = rule->action != UnitRule::Drop;
        if (!keep) {
            changed = true;
            continue;
        }
        if (rule != nullptr && rule->action == UnitRule::Replace && rule->from == here) {
            changed = true;
            for (std::size_t p = 0; p + m_packetSize <= rule->packets.size(); p += m_packetSize) {
                const std::size_t start = out.size();
                out.insert(out.end(), rule->packets.begin() + static_cast<std::ptrdiff_t>(p),
                           rule->packets.begin() + static_cast<std::ptrdiff_t>(p + m_packetSize));
                if (video) noteVideo(out, start, here, *video);
            }
            continue;
        }
        const std::size_t start = out.size();
        out.insert(out.end(), unit, unit + size);
        if (video && whole) noteVideo(out, start, here, *video);
    }
    return changed;
}
