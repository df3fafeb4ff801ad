#pragma once
// The channels of one stage (the demultiplexer's input channels, the
// synchroniser's output channels), keyed by PID, in the order they were added.
// The set owns its channels; a removed channel stays alive until the set is
// destroyed, so pointers taken during a job stay valid to its end.

#include <cstdint>
#include <memory>
#include <vector>

#include "output/mpeg_channel.h"

class CChannelSet {
public:
    CChannelSet() = default;
    CChannelSet(const CChannelSet&) = delete;
    CChannelSet& operator=(const CChannelSet&) = delete;

    // Appends the channel; a channel of type 2 becomes the video channel.
    // A PID already present is replaced in the map and the array.
    CMpegChannel* Add(std::uint16_t pid, std::unique_ptr<CMpegChannel> channel);
    CMpegChannel* Lookup(std::uint16_t pid) const;
    // Takes the channel out of the map and the array; PID 0 is ignored.
    void Remove(std::uint16_t pid);

    // The channels in the order added (the walk order of writers and synchroniser).
    const std::vector<CMpegChannel*>& Channels() const { return m_channels; }
    std::int32_t Count() const { return static_cast<std::int32_t>(m_channels.size()); }

    // Among the non-empty rings, the tail packet with the smallest PTS; on equal
    // PTS the channel added first wins. nullptr when every ring is empty.
    CMpegPacket* NextPacket(CMpegChannel** channel = nullptr) const;
    bool AllEmpty() const;

    std::uint16_t m_videoPid = 0;
    CMpegChannel* m_videoChannel = nullptr;
    std::int32_t m_videoIndex = -1;

private:
    // PID to channel: a handful of entries, searched faster in a row than hashed.
    struct Entry {
        std::uint16_t pid;
        CMpegChannel* channel;
    };
    // The entry's index, or m_map.size() when the PID has none.
    std::size_t indexOf(std::uint16_t pid) const;
    std::vector<Entry> m_map;
    std::vector<CMpegChannel*> m_channels;
    std::vector<std::unique_ptr<CMpegChannel>> m_owned;
};
