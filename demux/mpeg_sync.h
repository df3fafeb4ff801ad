#pragma once
// The audio/video synchroniser between the demultiplexer and the writers:
// takes the finished units out of the input channels in time order, gives
// each a PTS on a gap-free output time line of its stream (starting at 0),
// and repairs the sync on the way: the audio's initial offset, missing sound
// (silence frames, or dropped GOPs for long gaps), audio running ahead, cuts
// and lost GOPs in the video, GOP time codes, broken links, bit-rate limits.

#include <cstdint>
#include <memory>

#include "output/channel_set.h"

class CMpegSync {
public:
    // Starts on the demultiplexer's channels: presets the frame durations and
    // creates one output channel per input channel.
    explicit CMpegSync(CChannelSet& input);
    CMpegSync(const CMpegSync&) = delete;
    CMpegSync& operator=(const CMpegSync&) = delete;

    // Moves every queued unit to the output channels; true when all input
    // queues are empty. Throws CMpegChannelException when an output ring is full.
    bool Forward();

    CChannelSet& Output() { return m_output; }
    void SetVobMode(bool vob) { m_vobMode = vob; }

    // Parts of Forward, open to tests.
    CMpegPacket* NextUnit(CMpegChannel** channel);
    bool VideoCheck(CMpegPacket& unit, CMpegChannel& in, CMpegChannel& out);
    bool AudioCheck(CMpegPacket& unit, CMpegChannel& in, CMpegChannel& out);
    bool CompensateDelay(CMpegPacket& unit, CMpegChannel& in, CMpegChannel& out);
    // Adds silence frames of the template's kind to out, of at least amount
    // ticks; after the time line (gaps) or, with before set, ending one frame
    // before it (ahead of the first frame). Returns the ticks added.
    std::int64_t PadSilence(std::int64_t amount, const CMpegPacket& unit, CMpegChannel& in,
                            CMpegChannel& out, bool before = false);

    // Units that reported data errors (gaps, drops, padding) in this run.
    int Repairs() const { return m_repairs; }

    static constexpr std::int32_t kOutputBuffer = 6553600;
    static constexpr std::int32_t kAudioOutputRing = 1000;

private:
    CChannelSet& m_input;
    CChannelSet m_output;
    std::uint64_t m_basePTS = 0;
    std::uint64_t m_lastTaken = 0;
    bool m_anyTaken = false;
    bool m_videoSeen = false;
    bool m_vobMode = false;
    std::int32_t m_previousPictures = 0;
    // Temporal reference of the first coded picture of the last video unit:
    // the unit's PTS is that picture's, its time line the GOP's display start.
    std::int32_t m_videoTref = 0;
    std::int32_t m_firstTref = -1;
    int m_repairs = 0;
    // The last jump of the video's source clock: where it resumed, where it
    // left off, and how much the video's output-minus-source offset changed.
    std::uint64_t m_jumpFrom = 0;
    std::uint64_t m_jumpTo = 0;
    std::int64_t m_jumpDelta = 0;

    bool followVideoJump(const CMpegPacket& unit, CMpegChannel& in, CMpegChannel& out,
                         std::int64_t gap);

    std::string timeText(std::uint64_t pts) const;
    std::int64_t videoOffset() const;
};
