#include "demux/mpeg_sync.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "demux/audio_frame.h"
#include "demux/pes_fields.h"
#include "demux/pmt_entry.h"
#include "demux/silent_ac3_frame.h"
#include "demux/start_code.h"
#include "output/mpeg_channel_exception.h"
#include "shell/log.h"
#include "shell/text.h"

namespace {

using pes::Diff33;

constexpr std::int64_t kPictureTicks = 3600;       // 40 ms at 25 pictures/s
constexpr std::int64_t kLongGap = 450000;          // 5 s
constexpr std::int64_t kBogusGap = 432000000;      // 80 min: a stamp from elsewhere
constexpr std::int64_t kLeadLimit = -2200;         // audio this far ahead of the video is dropped
constexpr std::uint32_t kMaxBitRateValue = 20000;  // 8 Mbit/s in units of 400 bit/s
// Silence never fills the output ring: room stays for the units of one slice.
constexpr std::int32_t kRingHeadroom = 64;
// A gap longer than this is not filled with silence (it would take more
// memory than the recording is worth): 10 minutes.
constexpr std::int64_t kMaxSilence = 600 * 90000;
// Sound is passed on once the video has been read this far past it: the
// unit that shows it, with its leading B pictures, is then complete.
constexpr std::int64_t kVideoReadAhead = 18000;
// A GOP is passed on once the sound has been queued a picture past its last
// picture, so that missing sound is known before its GOPs are.
constexpr std::int64_t kSoundReadAhead = kPictureTicks;
// How long a stream that has gone quiet is waited for: the sound for the
// video up to 60 s (a video dropout that long takes its sound with it), the
// video for the sound a little longer than the longest gap whose GOPs go.
constexpr std::int64_t kSoundWaitsForVideo = 60 * 90000;
constexpr std::int64_t kVideoWaitsForSound = 6 * 90000;
// A sound track that has not begun holds the first 15 s of video back: sound
// that starts late gets its silence ahead of it while those pictures are
// still here, so that a program stream interleaves them.
constexpr std::int64_t kVideoWaitsForSoundStart = 15 * 90000;

// 00 00 01 id at or after from; -1 when there is none.
int FindCode(const std::vector<std::uint8_t>& d, std::size_t from, int id) {
    const std::size_t at = FindStartCode(d.data(), d.size(), from, static_cast<std::uint8_t>(id));
    return at == mpeg::kNotFound ? -1 : static_cast<int>(at);
}

int CountPictures(const std::vector<std::uint8_t>& d, std::size_t from) {
    int count = 0;
    for (int at = FindCode(d, from, 0x00); at >= 0; at = FindCode(d, at + 5, 0x00)) ++count;
    return count;
}

// Picture header fields: temporal_reference (10 bits), picture_coding_type (3).
bool PictureFields(const std::vector<std::uint8_t>& d, int at, int& tref, int& type) {
    if (at < 0 || static_cast<std::size_t>(at) + 6 > d.size()) return false;
    tref = (d[at + 4] << 2) | (d[at + 5] >> 6);
    type = (d[at + 5] >> 3) & 7;
    return true;
}

int FirstTref(const std::vector<std::uint8_t>& d, std::size_t from) {
    int tref = 0, type = 0;
    return PictureFields(d, FindCode(d, from, 0x00), tref, type) ? tref : 0;
}

// Whether the GOP may refer to the GOP before it: closed_gop clear (or no
// GOP header), or broken_link already set.
bool RefersToPreviousGop(const std::vector<std::uint8_t>& d, std::size_t from, bool& brokenLink) {
    brokenLink = false;
    const int at = FindCode(d, from, 0xB8);
    if (at < 0 || static_cast<std::size_t>(at) + 8 > d.size()) return true;
    brokenLink = (d[at + 7] & 0x20) != 0;
    return (d[at + 7] & 0x40) == 0 || brokenLink;
}

// The B pictures that follow the first picture, an I picture, and are shown
// before it (temporal_reference below its own): they refer to the GOP before
// this one. Removes them when apply is set; returns how many there are. Not
// when the unit ends with them (nothing would follow to show).
int RemoveLeadingB(std::vector<std::uint8_t>& d, std::size_t from, bool apply) {
    int tref = 0, type = 0;
    const int first = FindCode(d, from, 0x00);
    if (!PictureFields(d, first, tref, type) || type != 1) return 0;
    const int shownAt = tref;
    const int firstB = FindCode(d, static_cast<std::size_t>(first) + 5, 0x00);
    int at = firstB;
    int count = 0;
    while (at >= 0 && PictureFields(d, at, tref, type) && type == 3 && tref < shownAt) {
        ++count;
        at = FindCode(d, static_cast<std::size_t>(at) + 5, 0x00);
    }
    if (count == 0 || at < 0) return 0;
    if (apply) d.erase(d.begin() + firstB, d.begin() + at);
    return count;
}

void RewriteTimeCode(std::vector<std::uint8_t>& d, std::size_t from, std::int64_t timeLine,
                     bool dropped) {
    const int at = FindCode(d, from, 0xB8);
    if (at < 0 || static_cast<std::size_t>(at) + 8 > d.size()) return;
    const std::int64_t t = std::max<std::int64_t>(timeLine, 0);
    const int hours = static_cast<int>((t / 90000 / 3600) % 24);
    const int minutes = static_cast<int>((t / 90000 / 60) % 60);
    const int seconds = static_cast<int>((t / 90000) % 60);
    const int pictures = static_cast<int>((t / kPictureTicks) % 25);
    std::uint8_t* g = d.data() + at + 4;
    const bool closed = (g[3] & 0x40) != 0;
    const bool broken = dropped && !closed;
    g[0] = static_cast<std::uint8_t>((hours << 2) | (minutes >> 4));
    g[1] = static_cast<std::uint8_t>(((minutes & 0x0F) << 4) | 0x08 | (seconds >> 3));
    g[2] = static_cast<std::uint8_t>(((seconds & 7) << 5) | (pictures >> 1));
    g[3] = static_cast<std::uint8_t>(((pictures & 1) << 7) | (g[3] & 0x40) | (broken ? 0x20 : 0) |
                                     (g[3] & 0x1F));
}

void LimitBitRate(std::vector<std::uint8_t>& d, std::size_t from) {
    const int at = FindCode(d, from, 0xB3);
    if (at < 0 || static_cast<std::size_t>(at) + 11 > d.size()) return;
    std::uint8_t* s = d.data() + at;
    const std::uint32_t value = (s[8] << 10) | (s[9] << 2) | (s[10] >> 6);
    if (value <= kMaxBitRateValue) return;
    s[8] = static_cast<std::uint8_t>(kMaxBitRateValue >> 10);
    s[9] = static_cast<std::uint8_t>(kMaxBitRateValue >> 2);
    s[10] = static_cast<std::uint8_t>((s[10] & 0x3F) | ((kMaxBitRateValue & 3) << 6));
}

const char* AudioName(const CMpegChannel& c) { return c.m_streamType == kStreamAC3 ? "AC3" : "MPG"; }

// One frame on an audio time line: 1152 samples at 44.1 kHz are 2351.02
// ticks, so every 50th such frame counts one tick more and the time line
// keeps the sound's own pace (a tick short per frame is 55 ms in two hours).
std::int64_t FrameTicks(CMpegChannel& in) {
    if (in.m_sampleRate <= 0 || in.m_frameSamples <= 0) return in.m_frameDuration;
    const std::int64_t exact = std::int64_t{in.m_frameSamples} * 90000;
    std::int64_t ticks = exact / in.m_sampleRate;
    in.m_tickRemainder += exact % in.m_sampleRate;
    if (in.m_tickRemainder >= in.m_sampleRate) {
        in.m_tickRemainder -= in.m_sampleRate;
        ++ticks;
    }
    return ticks;
}

}  // namespace

CMpegSync::CMpegSync(CChannelSet& input) : m_input(input) {
    m_videoSeen = input.m_videoPid == 0;
    m_output.m_videoPid = input.m_videoPid;
    for (CMpegChannel* in : input.Channels()) {
        switch (in->m_streamType) {
            case kStreamVideo: in->m_frameDuration = 43200; break;
            case kStreamMpeg1Audio:
            case kStreamMpeg2Audio: in->m_frameDuration = 2160; break;
            case kStreamAC3: in->m_frameDuration = 14400; break;
            default: break;
        }
        auto out = std::make_unique<CMpegChannel>(in->m_streamType, in->m_pid, kOutputBuffer);
        out->SetRingSize(in->m_streamType == kStreamVideo ? 2 * in->RingCapacity()
                                                          : kAudioOutputRing);
        m_output.Add(in->m_pid, std::move(out));
        m_held.push_back({in, {}, false});
    }
}

std::string CMpegSync::timeText(std::uint64_t pts) const {
    const std::int64_t ticks = std::max<std::int64_t>(Diff33(m_basePTS, pts), 0);
    const std::int64_t s = ticks / 90000;
    return FormatString("%d:%02d:%02d", static_cast<int>(s / 3600), static_cast<int>(s / 60 % 60),
                        static_cast<int>(s % 60));
}

// Every unit queued in the input channels comes here to wait its turn, so
// that the demultiplexer's rings never fill while one stream waits for another.
void CMpegSync::pull() {
    for (Held& held : m_held) {
        CMpegChannel* c = held.channel;
        while (!c->IsEmpty()) {
            Waiting w;
            w.packet = std::move(c->GetTail());
            w.packet.m_pid = c->m_pid;
            c->RemoveTail();
            if (c->m_streamType == kStreamVideo) {
                if (!m_videoPulled) m_firstVideoPts = w.packet.m_pts;
                m_videoPulled = true;
                std::vector<std::uint8_t>& bytes = w.packet.Bytes();
                const std::size_t from = static_cast<std::size_t>(std::max(w.packet.m_headerLength, 0));
                w.pictures = CountPictures(bytes, from);
                w.tref = FirstTref(bytes, from);
                if (RefersToPreviousGop(bytes, from, w.brokenLink))
                    w.leadingB = RemoveLeadingB(bytes, from, false);
            }
            held.units.push_back(std::move(w));
            held.delivered = true;
        }
    }
}

// The waiting unit that comes first in source time: audio by where it ends,
// video by where its pictures begin to be shown (a GOP's I picture is shown
// after the B pictures that follow it in the stream), so that a sound frame
// is decided after all the pictures it plays with.
CMpegSync::Held* CMpegSync::nextHeld() {
    Held* best = nullptr;
    std::int64_t bestKey = 0;
    for (Held& h : m_held) {
        if (h.units.empty()) continue;
        const Waiting& w = h.units.front();
        const std::uint64_t pts =
            h.channel->m_streamType == kStreamVideo
                ? shownStart(w)
                : w.packet.m_pts + static_cast<std::uint64_t>(std::max(h.channel->m_frameDuration - 1, 0));
        // Ordered relative to the last unit taken, so that a clock wrap keeps
        // the order of the units on both sides of it.
        const std::int64_t key =
            m_anyTaken ? Diff33(m_lastTaken, pts) : static_cast<std::int64_t>(pts);
        if (!best || key < bestKey) {
            best = &h;
            bestKey = key;
        }
    }
    return best;
}

CMpegPacket* CMpegSync::NextUnit(CMpegChannel** channel) {
    pull();
    Held* h = nextHeld();
    if (channel) *channel = h ? h->channel : nullptr;
    return h ? &h->units.front().packet : nullptr;
}

// Whether the other stream must be read further before this unit is
// decided. Sound waits for the video (a gap in the pictures drops the sound
// in it, and the offset sound must keep is the video's); a GOP waits for the
// sound (the GOPs whose sound is missing go). Streams of one kind do not
// wait for each other, and none waits for a stream that has ended, has not
// started, or has gone quiet for long.
bool CMpegSync::waitsFor(const Held& waiting, const Waiting& unit, const Held& other,
                         std::int64_t newest) const {
    const CMpegChannel& c = *other.channel;
    const bool waitingIsVideo = waiting.channel->m_streamType == kStreamVideo;
    const bool otherIsVideo = c.m_streamType == kStreamVideo;
    if (waitingIsVideo && !other.delivered && IsAudio(c.m_streamType) && !c.m_atEnd)
        return m_videoPulled && Diff33(m_firstVideoPts, unit.packet.m_pts) < kVideoWaitsForSoundStart;
    // Without stamps read there is no telling how far a stream has come.
    if (c.m_atEnd || !other.delivered || !c.m_seenPTS || waitingIsVideo == otherIsVideo)
        return false;
    if (!otherIsVideo && !IsAudio(c.m_streamType)) return false;
    const std::uint64_t pts = unit.packet.m_pts;
    std::int64_t known = 0;
    std::int64_t need = 0;
    std::int64_t patience = 0;
    if (otherIsVideo) {
        // Everything before the unit being assembled is complete.
        known = Diff33(pts, c.m_unitPTSValid ? c.m_unitPTS : c.m_latestPTS);
        need = kVideoReadAhead;
        patience = kSoundWaitsForVideo;
    } else {
        if (!other.units.empty())
            known = Diff33(pts, other.units.back().packet.m_pts);
        else if (c.m_lastPTS != 0)
            known = Diff33(pts, c.m_lastPTS);
        else
            return false;
        need = (unit.pictures - unit.tref) * kPictureTicks + kSoundReadAhead;
        patience = kVideoWaitsForSound;
    }
    if (known >= need) return false;
    return newest - Diff33(pts, c.m_latestPTS) <= patience;
}

bool CMpegSync::decidable(const Held& held, const Waiting& unit) const {
    std::int64_t newest = std::numeric_limits<std::int64_t>::min();
    for (const Held& h : m_held)
        if (h.channel->m_seenPTS)
            newest = std::max(newest, Diff33(unit.packet.m_pts, h.channel->m_latestPTS));
    for (const Held& other : m_held)
        if (&other != &held && waitsFor(held, unit, other, newest)) return false;
    return true;
}

bool CMpegSync::Forward() {
    pull();
    for (;;) {
        Held* held = nextHeld();
        if (!held) return true;
        if (!decidable(*held, held->units.front())) return true;
        take(*held);
    }
}

void CMpegSync::take(Held& held) {
    Waiting w = std::move(held.units.front());
    held.units.pop_front();
    CMpegPacket& unit = w.packet;
    CMpegChannel* in = held.channel;
    if (m_basePTS == 0) m_basePTS = unit.m_pts;
    m_lastTaken = unit.m_pts;
    m_anyTaken = true;
    CMpegChannel* out = m_output.Lookup(unit.m_pid);
    if (!out) {
        LogPrintf("No channel found: PID%04X, Inp %08X, Out %08X, Vid %08X", unit.m_pid, 1u, 0u,
                  m_input.m_videoChannel ? 1u : 0u);
        return;
    }
    bool pass = false;
    if (in->m_streamType == kStreamVideo) {
        m_videoSeen = true;
        announceMissingSound(w);
        if (insideDropStretch(w)) {
            dropForSound(w, *in);
            return;
        }
        pass = VideoCheck(unit, *in, *out);
    } else if (IsAudio(in->m_streamType) && m_videoSeen) {
        pass = AudioCheck(unit, *in, *out);
    }
    if (!pass) return;
    unit.m_pts = static_cast<std::uint64_t>(in->m_syncTime);
    if (in->m_streamType == kStreamVideo) unit.m_pts += m_videoTref * kPictureTicks;
    // Units that waited here are released together: the output ring takes
    // them all (they are held in memory either way).
    if (out->Count() >= out->RingCapacity() - 1) out->GrowRing(2 * out->RingCapacity());
    out->Add(std::move(unit));
}

// Sound missing for more than (video D - D) / 2 and at most 5 s takes the
// GOPs shown while it is missing. The gap is known when the first of those
// GOPs comes up (its sound has been read past it), and is announced then; a
// gap that holds no whole GOP is only filled with silence.
void CMpegSync::announceMissingSound(const Waiting& video) {
    CMpegChannel* v = m_input.m_videoChannel;
    if (!v) return;
    for (Held& h : m_held) {
        CMpegChannel& a = *h.channel;
        if (!IsAudio(a.m_streamType) || a.m_compensation == 0 || a.m_lastPTS == 0 || h.units.empty())
            continue;
        const CMpegPacket& next = h.units.front().packet;
        if (next.m_afterCut) continue;  // the gap is a cut area's, not missing sound
        const std::int64_t d = a.m_frameDuration;
        const std::int64_t gap = Diff33(a.m_lastPTS, next.m_pts);
        if (gap <= ((v->m_frameDuration - d) >> 1) || gap > kLongGap) continue;
        const std::uint64_t pts = video.packet.m_pts;
        if (Diff33(a.m_lastPTS, pts) <= 0 || Diff33(pts, next.m_pts) <= 0) continue;
        auto announced = m_announced.find(a.m_pid);
        if (announced != m_announced.end() && announced->second == next.m_pts) continue;
        const std::uint64_t from = (a.m_lastPTS + static_cast<std::uint64_t>(d)) & (pes::kWrap - 1);
        if (!Inside(video, from, next.m_pts)) continue;
        m_announced[a.m_pid] = next.m_pts;
        LogPrintf("%s Audio PID: %04X, PTS: %s", AudioName(a), a.m_pid, timeText(next.m_pts).c_str());
        LogPrintf("   Too many missing sound frame(s) detected! %dms", static_cast<int>(gap / 90));
        LogPrintf("   Dropping corresponding GOP");
        ++m_repairs;
        if (!m_dropForSound || Diff33(m_dropTo, next.m_pts) > 0) {
            if (!m_dropForSound) m_dropFrom = from;
            m_dropTo = next.m_pts;
        }
        m_dropForSound = true;
        v->m_missingSound = gap;
    }
}

bool CMpegSync::Inside(const Waiting& video, std::uint64_t from, std::uint64_t to) {
    const std::uint64_t start = video.packet.m_pts - static_cast<std::uint64_t>(video.tref * kPictureTicks);
    const std::int64_t length = video.pictures * kPictureTicks;
    return Diff33(from, start) >= -kPictureTicks / 2 && Diff33(start, to) - length >= -kPictureTicks / 2;
}

bool CMpegSync::insideDropStretch(const Waiting& video) const {
    return m_dropForSound && Inside(video, m_dropFrom, m_dropTo);
}

// A GOP that goes for missing sound takes no output time: the pictures after
// it follow the last ones passed on, and the sound after the gap with them.
void CMpegSync::dropForSound(const Waiting& video, CMpegChannel& in) {
    const CMpegPacket& unit = video.packet;
    LogPrintf("Video PID: %04X, PTS: %s", in.m_pid, timeText(unit.m_pts).c_str());
    in.m_lastPTS = unit.m_pts;
    in.m_missingSound = std::max<std::int64_t>(in.m_missingSound - video.pictures * kPictureTicks, 0);
    m_droppedForSound = true;
    if (!m_videoKept) return;
    const std::uint64_t end =
        (unit.m_pts + static_cast<std::uint64_t>((video.pictures - video.tref) * kPictureTicks)) &
        (pes::kWrap - 1);
    m_videoOut += Diff33(m_videoSource, m_videoSourceEnd);
    m_videoSource = end;
    m_videoSourceEnd = end;
}

bool CMpegSync::VideoCheck(CMpegPacket& unit, CMpegChannel& in, CMpegChannel&) {
    const std::int64_t d = in.m_frameDuration;
    std::vector<std::uint8_t>& bytes = unit.Bytes();
    const std::size_t from = static_cast<std::size_t>(std::max(unit.m_headerLength, 0));
    std::int64_t diff = in.m_lastPTS != 0 ? Diff33(in.m_lastPTS, unit.m_pts) : 0;
    if (diff < 0) diff = 0;

    bool drop = false;
    if (m_droppedForSound) {
        LogPrintf("   Dropped GOPs!");
        m_droppedForSound = false;
        drop = true;
    }
    if (m_dropForSound && Diff33(m_dropTo, unit.m_pts) >= 0) {
        m_dropForSound = false;
        in.m_missingSound = 0;
    }
    if (diff > 10 * d) {
        LogPrintf("Video PID: %04X, PTS: %s", in.m_pid, timeText(unit.m_pts).c_str());
        LogPrintf("   Cut detected! %ds", static_cast<int>(diff / 90000));
        drop = true;
    } else if (!(diff <= 3 * d && !unit.m_flag) && !drop) {
        LogPrintf("Video PID: %04X, PTS: %s", in.m_pid, timeText(unit.m_pts).c_str());
        LogPrintf("   Missing GOP detected! %dms", static_cast<int>(diff / 90));
        drop = true;
        // A damaged stream, unless the gap is only a cut area left out.
        if (unit.m_flag) ++m_repairs;
    }
    // The time line moves on by the pictures of the last unit passed on.
    const std::int64_t advance = (drop || diff != 0) ? m_previousPictures * kPictureTicks : 0;
    in.m_syncTime += advance;
    const int pictures = CountPictures(bytes, from);
    m_previousPictures = pictures;
    in.m_lastPTS = unit.m_pts;
    for (CMpegChannel* c : m_input.Channels()) c->m_checkAllowed = 1;

    // The first GOP of the output has lost its predecessor as well.
    const bool first = m_firstTref < 0;
    // Leading B pictures refer to the GOP before this one: where that is gone
    // (or the stream says the link is broken) they cannot be shown and are
    // removed; a closed GOP keeps them. The time line moves back by the
    // pictures taken out, so that the I picture follows the last one shown
    // (in the first GOP it is shown first, at 0).
    bool brokenLink = false;
    const bool open = RefersToPreviousGop(bytes, from, brokenLink);
    if (open && (drop || first || brokenLink)) {
        const int removable = RemoveLeadingB(bytes, from, false);
        if (removable > 0 && (first || in.m_syncTime >= removable * kPictureTicks)) {
            RemoveLeadingB(bytes, from, true);
            in.m_syncTime -= removable * kPictureTicks;
            // The I picture is now decoded one picture before it is shown, not
            // ahead of the B pictures that were taken out.
            if (from >= 19 && (bytes[7] & 0xC0) == 0xC0) {
                const std::uint64_t pts = pes::ReadStamp(bytes.data() + 9);
                pes::WriteStamp((pts - kPictureTicks) & (pes::kWrap - 1), 1, bytes.data() + 14);
            }
        }
    }
    m_videoTref = FirstTref(bytes, from);
    if (first) {
        m_firstTref = m_videoTref;
        m_firstOut = in.m_syncTime + m_videoTref * kPictureTicks;
    }
    noteKeptVideo(unit, in, pictures);
    RewriteTimeCode(bytes, from, in.m_syncTime, drop || first);
    LimitBitRate(bytes, from);
    return true;
}

// Where the pictures of the unit passed on lie: its first coded picture's
// output stamp stands for its source stamp, and its pictures end where the
// next unit's would begin.
void CMpegSync::noteKeptVideo(const CMpegPacket& unit, const CMpegChannel& in, std::int32_t pictures) {
    m_videoKept = true;
    m_videoOut = in.m_syncTime + m_videoTref * kPictureTicks;
    m_videoSource = unit.m_pts;
    m_videoSourceEnd =
        (unit.m_pts + static_cast<std::uint64_t>((pictures - m_videoTref) * kPictureTicks)) &
        (pes::kWrap - 1);
}

// The output stamp at which this audio unit keeps the offset of the pictures
// shown with it.
std::int64_t CMpegSync::audioTarget(const CMpegPacket& unit) const {
    return m_videoOut + Diff33(m_videoSource, unit.m_pts);
}

// The source stamp where the next video unit's pictures begin; false when it
// is not known (no more video, or not read yet).
bool CMpegSync::nextVideoStart(std::uint64_t& start) const {
    const CMpegChannel* video = m_input.m_videoChannel;
    if (!video) return false;
    for (const Held& h : m_held) {
        if (h.channel != video || h.units.empty()) continue;
        start = shownStart(h.units.front());
        return true;
    }
    if (video->m_atEnd || !video->m_unitPTSValid) return false;
    // Being assembled: its B pictures may be shown up to three pictures early.
    start = video->m_unitPTS - 3 * kPictureTicks;
    return true;
}

// Where the pictures of a waiting video unit will begin, in source time:
// without its leading B pictures when it follows a gap in the video (they
// refer to pictures that are gone and are taken out).
std::uint64_t CMpegSync::shownStart(const Waiting& video) const {
    const CMpegChannel* in = m_input.m_videoChannel;
    bool afterGap = video.brokenLink || video.packet.m_flag || m_droppedForSound || m_firstTref < 0;
    if (!afterGap && in && in->m_lastPTS != 0)
        afterGap = Diff33(in->m_lastPTS, video.packet.m_pts) > 3 * static_cast<std::int64_t>(in->m_frameDuration);
    const std::int64_t hidden = video.tref - (afterGap ? video.leadingB : 0);
    return (video.packet.m_pts - static_cast<std::uint64_t>(hidden * kPictureTicks)) & (pes::kWrap - 1);
}

// Sound from a stretch the video lost (a dropout, a damaged GOP cut short)
// has no pictures to go with: the video's time line closes over the gap, and
// the sound in it goes too.
bool CMpegSync::inVideoGap(const CMpegPacket& unit, const CMpegChannel& in) const {
    if (!m_videoKept) return false;
    const std::int64_t half = in.m_frameDuration / 2;
    if (Diff33(m_videoSourceEnd, unit.m_pts) < -half) return false;
    std::uint64_t next = 0;
    if (!nextVideoStart(next)) return false;
    return Diff33(unit.m_pts, next) >= half + in.m_frameDuration / 2;
}

// Silence for the frames missing before this unit: as many as put the unit
// at its place against the pictures (or, without video, after the frames
// its own stamps say are missing).
std::int64_t CMpegSync::padGap(const CMpegPacket& unit, std::int64_t gap, CMpegChannel& in,
                               CMpegChannel& out) {
    const std::int64_t d = in.m_frameDuration;
    const std::int64_t natural = in.m_syncTime + d;
    const std::int64_t missing = m_videoKept ? audioTarget(unit) - natural : gap - d;
    if (missing < d / 2) return 0;
    return PadSilence(missing, unit, in, out);
}

// Reports a gap in the sound and moves the time line over it. Silence added
// for it is missing sound (unless a cut area took the sound); a gap that
// needed none was a jump of every stream, which the sound follows.
std::int64_t CMpegSync::reportGap(const CMpegPacket& unit, std::int64_t gap, CMpegChannel& in,
                                  std::int64_t pad) {
    const std::int64_t d = in.m_frameDuration;
    const std::int64_t step = FrameTicks(in);
    in.m_syncTime += step + pad;
    auto announced = m_announced.find(in.m_pid);
    if (announced != m_announced.end() && announced->second == unit.m_pts) return step;
    if (pad > 0) {
        LogPrintf("%s Audio PID: %04X, PTS: %s, Diff %dms", AudioName(in), in.m_pid,
                  timeText(unit.m_pts).c_str(), static_cast<int>((gap - d) / 90));
        LogPrintf("   Missing sound frame(s) detected %dms!", static_cast<int>(gap / 90));
        LogPrintf("   Padding with 'silence'");
        if (!unit.m_afterCut) ++m_repairs;
    } else if (!unit.m_afterCut) {
        LogPrintf("%s Audio PID: %04X, PTS: %s", AudioName(in), in.m_pid, timeText(unit.m_pts).c_str());
        LogPrintf("   Following the video over a gap of %dms", static_cast<int>(gap / 90));
    }
    return step;
}

bool CMpegSync::AudioCheck(CMpegPacket& unit, CMpegChannel& in, CMpegChannel& out) {
    const std::int64_t d = in.m_frameDuration;
    CMpegChannel* video = m_input.m_videoChannel;
    if (!in.m_syncFlag) {
        // The assembly measured the delay against the PTS of the first
        // unit's first coded picture, which is shown at m_firstOut.
        in.m_syncFlag = 1;
        in.m_syncTime += m_firstOut;
    }
    std::int64_t gap = in.m_lastPTS != 0 ? Diff33(in.m_lastPTS, unit.m_pts) : 0;
    if (gap < 0 || gap > kBogusGap) gap = d;
    bool pass = true;
    bool leadCheck = false;
    bool mustCheck = false;
    std::int64_t step = d;  // what this unit moved the time line on

    if (video && in.m_compensation != 0 && inVideoGap(unit, in)) {
        in.m_lastPTS = unit.m_pts;
        return false;
    }
    if ((gap > 1.5 * static_cast<double>(d) || unit.m_flag) && video && in.m_compensation != 0) {
        step = reportGap(unit, gap, in, padGap(unit, gap, in, out));
        leadCheck = mustCheck = true;
    } else if (in.m_compensation == 0) {
        pass = CompensateDelay(unit, in, out);
        leadCheck = pass;
    } else {
        step = FrameTicks(in);
        in.m_syncTime += step;
        leadCheck = true;
    }

    if (leadCheck && video && m_videoKept && (in.m_checkAllowed || mustCheck)) {
        // Output minus source stamp of the pictures against that of this unit.
        const std::int64_t lead = audioTarget(unit) - in.m_syncTime;
        if (lead < kLeadLimit && video->m_syncTime != 0) {
            in.m_syncTime -= step;
            pass = false;
        } else {
            in.m_checkAllowed = 0;
        }
    } else if (!leadCheck) {
        in.m_checkAllowed = 0;
    }
    in.m_lastPTS = unit.m_pts;
    return pass;
}

// The first regular unit of an audio stream: its offset from the video is
// made good by dropping audio that starts before the picture and by silence
// ahead of it for a late start, so that the output's audio starts within one
// frame of its video. Late sound is not made good by dropping GOPs: the GOPs
// still queued are those after the sound's start (the earlier ones have been
// written), and dropping them would put the sound that far ahead of its
// pictures.
bool CMpegSync::CompensateDelay(CMpegPacket& unit, CMpegChannel& in, CMpegChannel& out) {
    const std::int64_t d = in.m_frameDuration;
    LogPrintf("Compensating %s Audio Delay: %dms", AudioName(in),
              static_cast<int>(in.m_syncTime / 90));
    if (in.m_syncTime < 0) {
        // A frame before the first picture: dropped; the next one is D later.
        in.m_syncTime += d;
        return false;
    }
    if (m_input.m_videoChannel && in.m_syncTime > 0) {
        // Elementary streams carry no stamps: the sound's place is its count
        // of frames from the start, so the delay goes to the nearest whole
        // frame. A program stream keeps the exact stamp.
        if (!m_vobMode) in.m_syncTime = (in.m_syncTime + d / 2) / d * d;
        PadSilence(in.m_syncTime, unit, in, out, true);
    }
    in.m_compensation = in.m_syncTime != 0 ? in.m_syncTime : 1;
    return true;
}

// A frame of silence like the unit: MPEG audio keeps the frame header (without
// CRC protection) and has everything after it zero, which a Layer II decoder
// plays as silence; AC-3 gets a silent frame of the unit's own layout.
CMpegPacket CMpegSync::silenceFrom(const CMpegPacket& unit, const CMpegChannel& in) {
    const int h = unit.m_headerLength;
    CMpegPacket silence;
    AudioFrame frame;
    if (in.m_streamType == kStreamAC3 && AudioFrame::ParseAc3(unit.Data() + h, unit.Size() - h, frame)) {
        const std::uint32_t key = static_cast<std::uint32_t>(frame.fscod << 16 | frame.frmsizecod << 8 |
                                                             frame.acmod << 1 | frame.lfeon);
        auto it = m_silentAc3.find(key);
        if (it == m_silentAc3.end())
            it = m_silentAc3.emplace(key, SilentAc3Frame(frame.fscod, frame.frmsizecod, frame.acmod,
                                                         frame.lfeon)).first;
        std::vector<std::uint8_t> bytes(unit.Data(), unit.Data() + h);
        bytes.insert(bytes.end(), it->second.begin(), it->second.end());
        silence.SetData(std::move(bytes));
    } else {
        silence.SetData(unit.Data(), unit.Size());
        if (unit.Size() > h + 1) silence.Data()[h + 1] |= 0x01;  // protection_bit: no CRC
        if (unit.Size() > h + 4)
            std::memset(silence.Data() + h + 4, 0, static_cast<std::size_t>(unit.Size() - h - 4));
    }
    silence.m_headerLength = h;
    silence.m_kind = unit.m_kind;
    silence.m_pid = unit.m_pid;
    return silence;
}

std::int64_t CMpegSync::PadSilence(std::int64_t amount, const CMpegPacket& unit, CMpegChannel& in,
                                   CMpegChannel& out, bool before) {
    const std::int64_t d = in.m_frameDuration;
    if (amount < 1 || d < 1) return 0;
    const int h = unit.m_headerLength;
    if (h < 0 || h > unit.Size()) return 0;
    std::int64_t frames = before ? amount / d : (amount + d / 2) / d;
    if (frames * d > kMaxSilence) {
        const std::int64_t kept = kMaxSilence / d;
        LogPrintf("   Gap too long for silence, %d frame(s) left out", static_cast<int>(frames - kept));
        frames = kept;
    }
    if (frames < 1) return 0;
    // A long gap gets the room it needs in the output ring.
    const std::int64_t wanted = out.Count() + frames + kRingHeadroom + 1;
    if (wanted > out.RingCapacity()) out.GrowRing(static_cast<std::int32_t>(wanted));
    const CMpegPacket silence = silenceFrom(unit, in);
    for (std::int64_t k = 1; k <= frames; ++k) {
        const std::int64_t pts = before ? in.m_syncTime - (frames - k + 1) * d : in.m_syncTime + k * d;
        CMpegPacket copy = silence;
        copy.m_pts = static_cast<std::uint64_t>(std::max<std::int64_t>(pts, 0));
        out.Add(std::move(copy));
    }
    return frames * d;
}
