#pragma once
// The audio/video synchroniser between the demultiplexer and the writers:
// takes the finished units out of the input channels in time order, gives
// each a PTS on a gap-free output time line of its stream (starting at 0),
// and repairs the sync on the way: the audio's initial offset, missing sound
// (silence frames, or dropped GOPs for long gaps), audio running ahead, cuts
// and lost GOPs in the video, GOP time codes, broken links, bit-rate limits.
//
// A gap in one stream is only understood with the other stream's stamps
// around it: a dropout that took every stream is not missing sound, and the
// GOPs that go for missing sound are those the sound is missing for. So the
// units wait here until the other streams have been read past them (or have
// gone quiet for long), and are then taken in time order.

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "output/channel_set.h"

class CMpegSync {
public:
    // Starts on the demultiplexer's channels: presets the frame durations and
    // creates one output channel per input channel.
    explicit CMpegSync(CChannelSet& input);
    CMpegSync(const CMpegSync&) = delete;
    CMpegSync& operator=(const CMpegSync&) = delete;

    // Takes every queued unit out of the input channels and moves to the
    // output channels all whose turn has come; true when the input queues are
    // empty (units may still wait here). Once the demultiplexer has marked
    // its channels as at their end, everything is moved. Throws
    // CMpegChannelException when an output ring is full.
    bool Forward();

    CChannelSet& Output() { return m_output; }
    void SetVobMode(bool vob) { m_vobMode = vob; }

    // Parts of Forward, open to tests.
    // The waiting unit with the smallest PTS; nullptr when none waits.
    CMpegPacket* NextUnit(CMpegChannel** channel);
    bool VideoCheck(CMpegPacket& unit, CMpegChannel& in, CMpegChannel& out);
    bool AudioCheck(CMpegPacket& unit, CMpegChannel& in, CMpegChannel& out);
    bool CompensateDelay(CMpegPacket& unit, CMpegChannel& in, CMpegChannel& out);
    // Adds silence frames of the template's kind to out, as many as come
    // nearest to amount ticks; after the time line (gaps) or, with before
    // set, ending one frame before it (ahead of the first frame). Returns the
    // ticks added.
    std::int64_t PadSilence(std::int64_t amount, const CMpegPacket& unit, CMpegChannel& in,
                            CMpegChannel& out, bool before = false);

    // Units that reported data errors (gaps, drops, padding) in this run.
    int Repairs() const { return m_repairs; }

    static constexpr std::int32_t kOutputBuffer = 6553600;
    static constexpr std::int32_t kAudioOutputRing = 1000;

private:
    // A unit that waits for its turn; video units with the span of their
    // pictures (counted once).
    struct Waiting {
        CMpegPacket packet;
        std::int32_t pictures = 0;
        std::int32_t tref = 0;  // temporal reference of the first coded picture
        std::int32_t leadingB = 0;  // B pictures that refer to the GOP before
        bool brokenLink = false;
    };
    // The units of one input channel that wait.
    struct Held {
        CMpegChannel* channel = nullptr;
        std::deque<Waiting> units;
        bool delivered = false;  // the stream has given a unit
    };

    CChannelSet& m_input;
    CChannelSet m_output;
    std::vector<Held> m_held;
    std::uint64_t m_basePTS = 0;
    std::uint64_t m_lastTaken = 0;
    bool m_anyTaken = false;
    bool m_videoPulled = false;
    std::uint64_t m_firstVideoPts = 0;
    bool m_videoSeen = false;
    bool m_vobMode = false;
    int m_repairs = 0;

    // The video as passed on so far: pictures of the last unit kept, the
    // temporal reference of its first coded picture (the unit's PTS is that
    // picture's), output minus source stamp of its pictures, and where in
    // source time its pictures end.
    std::int32_t m_previousPictures = 0;
    std::int32_t m_videoTref = 0;
    std::int32_t m_firstTref = -1;
    // Output stamp of the first unit's first coded picture, which the
    // audio's start delay is measured against.
    std::int64_t m_firstOut = 0;
    bool m_videoKept = false;
    std::int64_t m_videoOut = 0;      // output stamp that ...
    std::uint64_t m_videoSource = 0;  // ... stands for this source stamp
    std::uint64_t m_videoSourceEnd = 0;
    // GOPs shown while sound is missing go: the source stretch [from, to)
    // of the sound missing, and whether GOPs have been dropped for it.
    bool m_dropForSound = false;
    std::uint64_t m_dropFrom = 0;
    std::uint64_t m_dropTo = 0;
    bool m_droppedForSound = false;
    // Silent AC-3 frames, made for each track's own layout.
    std::map<std::uint32_t, std::vector<std::uint8_t>> m_silentAc3;
    // The audio unit (by PID, its PTS) whose gap has been announced.
    std::map<std::uint16_t, std::uint64_t> m_announced;

    void pull();
    Held* nextHeld();
    bool decidable(const Held& held, const Waiting& unit) const;
    bool waitsFor(const Held& waiting, const Waiting& unit, const Held& other,
                  std::int64_t newest) const;
    void announceMissingSound(const Waiting& video);
    bool insideDropStretch(const Waiting& video) const;
    // Whether all pictures of the GOP are shown within the source stretch
    // [from, to) (half a picture either way).
    static bool Inside(const Waiting& video, std::uint64_t from, std::uint64_t to);
    void dropForSound(const Waiting& video, CMpegChannel& in);
    void take(Held& held);
    void noteKeptVideo(const CMpegPacket& unit, const CMpegChannel& in, std::int32_t pictures);
    std::int64_t audioTarget(const CMpegPacket& unit) const;
    bool inVideoGap(const CMpegPacket& unit, const CMpegChannel& in) const;
    bool nextVideoStart(std::uint64_t& start) const;
    std::uint64_t shownStart(const Waiting& video) const;
    std::int64_t padGap(const CMpegPacket& unit, std::int64_t gap, CMpegChannel& in,
                        CMpegChannel& out);
    std::int64_t reportGap(const CMpegPacket& unit, std::int64_t gap, CMpegChannel& in,
                           std::int64_t pad);
    CMpegPacket silenceFrom(const CMpegPacket& unit, const CMpegChannel& in);

    std::string timeText(std::uint64_t pts) const;
};
