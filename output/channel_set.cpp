#include "output/channel_set.h"

#include <algorithm>

CMpegChannel* CChannelSet::Add(std::uint16_t pid, std::unique_ptr<CMpegChannel> channel) {
    CMpegChannel* raw = channel.get();
    if (!raw) return nullptr;
    m_owned.push_back(std::move(channel));
    if (const std::size_t i = indexOf(pid); i < m_map.size()) {
        Entry* it = &m_map[i];
        auto pos = std::find(m_channels.begin(), m_channels.end(), it->channel);
        if (pos != m_channels.end()) *pos = raw;
        if (m_videoChannel == it->channel) m_videoChannel = nullptr;
        it->channel = raw;
    } else {
        m_map.push_back({pid, raw});
        m_channels.push_back(raw);
    }
    if (raw->m_streamType == 2) {
        m_videoChannel = raw;
        auto pos = std::find(m_channels.begin(), m_channels.end(), raw);
        m_videoIndex = static_cast<std::int32_t>(pos - m_channels.begin());
    }
    return raw;
}

std::size_t CChannelSet::indexOf(std::uint16_t pid) const {
    std::size_t i = 0;
    while (i < m_map.size() && m_map[i].pid != pid) ++i;
    return i;
}

CMpegChannel* CChannelSet::Lookup(std::uint16_t pid) const {
    const std::size_t i = indexOf(pid);
    return i < m_map.size() ? m_map[i].channel : nullptr;
}

void CChannelSet::Remove(std::uint16_t pid) {
    if (pid == 0) return;
    const std::size_t i = indexOf(pid);
    if (i == m_map.size()) return;
    CMpegChannel* channel = m_map[i].channel;
    m_map.erase(m_map.begin() + static_cast<std::ptrdiff_t>(i));
    auto pos = std::find(m_channels.begin(), m_channels.end(), channel);
    if (pos != m_channels.end()) m_channels.erase(pos);
    if (m_videoChannel == channel) {
        m_videoChannel = nullptr;
        m_videoIndex = -1;
    } else if (m_videoChannel) {
        pos = std::find(m_channels.begin(), m_channels.end(), m_videoChannel);
        m_videoIndex = static_cast<std::int32_t>(pos - m_channels.begin());
    }
}

CMpegPacket* CChannelSet::NextPacket(CMpegChannel** channel) const {
    CMpegPacket* best = nullptr;
    CMpegChannel* bestChannel = nullptr;
    for (CMpegChannel* c : m_channels) {
        if (c->IsEmpty()) continue;
        CMpegPacket& p = c->GetTail();
        if (!best || p.m_pts < best->m_pts) {
            best = &p;
            bestChannel = c;
        }
    }
    if (channel) *channel = bestChannel;
    return best;
}

bool CChannelSet::AllEmpty() const {
    return std::all_of(m_channels.begin(), m_channels.end(),
                       [](const CMpegChannel* c) { return c->IsEmpty(); });
}
