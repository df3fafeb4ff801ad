#include "output/channel_set.h"

#include <algorithm>

CMpegChannel* CChannelSet::Add(std::uint16_t pid, std::unique_ptr<CMpegChannel> channel) {
    CMpegChannel* raw = channel.get();
    if (!raw) return nullptr;
    m_owned.push_back(std::move(channel));
    if (Entry* it = find(pid)) {
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

CChannelSet::Entry* CChannelSet::find(std::uint16_t pid) {
    for (Entry& e : m_map)
        if (e.pid == pid) return &e;
    return nullptr;
}

CMpegChannel* CChannelSet::Lookup(std::uint16_t pid) const {
    for (const Entry& e : m_map)
        if (e.pid == pid) return e.channel;
    return nullptr;
}

void CChannelSet::Remove(std::uint16_t pid) {
    if (pid == 0) return;
    Entry* it = find(pid);
    if (!it) return;
    CMpegChannel* channel = it->channel;
    m_map.erase(m_map.begin() + (it - m_map.data()));
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
