#include "demux/mpeg_sync.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "demux/pmt_entry.h"
#include "demux/silent_ac3_frame.h"
#include "output/mpeg_channel_exception.h"
#include "shell/log.h"
#include "shell/text.h"

namespace {

constexpr std::int64_t kWrap = 1ll << 33;
constexpr std::int64_t kPictureTicks = 3600;       // 40 ms at 25 pictures/s
constexpr std::int64_t kLongGap = 450000;          // 5 s
constexpr std::int64_t kBogusGap = 432000000;      // 80 min: a stamp from elsewhere
constexpr std::int64_t kLeadLimit = -2200;         // audio this far ahead of the video is dropped
constexpr std::uint32_t kMaxBitRateValue = 20000;  // 8 Mbit/s in units of 400 bit/s
// Silence never fills the output ring: room stays for the units of one slice.
constexpr std::int32_t kRingHeadroom = 64;

// later - earlier on the 33-bit circle, in [-2^32, 2^32).
std::int64_t Diff33(std::uint64_t earlier, std::uint64_t later) {
    std::int64_t d = static_cast<std::int64_t>((later - earlier) & (kWrap - 1));
    return d >= kWrap / 2 ? d - kWrap : d;
}

// 00 00 01 id at or after from, stepping over bytes that cannot end a
// start code prefix.
int FindCode(const std::vector<std::uint8_t>& d, std::size_t from, int id) {
    const std::uint8_t* p = d.data();
    const std::size_t n = d.size();
    std::size_t i = from;
    while (i + 3 < n) {
        if (p[i + 2] > 1) {
            i += 3;
        } else if (p[i + 1] != 0) {
            i += 2;
        } else if (p[i] != 0 || p[i + 2] != 1) {
            ++i;
        } else {
            if (p[i + 3] == id) return static_cast<int>(i);
            ++i;
        }
    }
    return -1;
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

// Removes the B pictures that directly follow the first picture (they refer to
// a GOP that is gone). Returns how many were removed.
int RemoveLeadingB(std::vector<std::uint8_t>& d, std::size_t from, bool apply = true) {
    int tref = 0, type = 0;
    int at = FindCode(d, from, 0x00);
    int firstB = -1;
    int count = 0;
    while (at >= 0 && PictureFields(d, at, tref, type)) {
        if (type == 3) {
            if (firstB < 0) firstB = at;
            ++count;
        } else if (firstB >= 0) {
            if (apply) d.erase(d.begin() + firstB, d.begin() + at);
            return count;
        }
        at = FindCode(d, at + 5, 0x00);
    }
    return 0;
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

std::uint64_t ReadStamp(const std::uint8_t* p) {
    return (static_cast<std::uint64_t>(p[0] & 0x0E) << 29) | (static_cast<std::uint64_t>(p[1]) << 22) |
           (static_cast<std::uint64_t>(p[2] & 0xFE) << 14) | (static_cast<std::uint64_t>(p[3]) << 7) |
           (p[4] >> 1);
}

void WriteStamp(std::uint64_t stamp, std::uint8_t prefix, std::uint8_t* p) {
    p[0] = static_cast<std::uint8_t>((prefix << 4) | ((stamp >> 29) & 0x0E) | 1);
    p[1] = static_cast<std::uint8_t>(stamp >> 22);
    p[2] = static_cast<std::uint8_t>(((stamp >> 14) & 0xFE) | 1);
    p[3] = static_cast<std::uint8_t>(stamp >> 7);
    p[4] = static_cast<std::uint8_t>(((stamp << 1) & 0xFE) | 1);
}

const char* AudioName(const CMpegChannel& c) { return c.m_streamType == kStreamAC3 ? "AC3" : "MPG"; }

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
    }
}

std::string CMpegSync::timeText(std::uint64_t pts) const {
    const std::int64_t ticks = std::max<std::int64_t>(Diff33(m_basePTS, pts), 0);
    const std::int64_t s = ticks / 90000;
    return FormatString("%d:%02d:%02d", static_cast<int>(s / 3600), static_cast<int>(s / 60 % 60),
                        static_cast<int>(s % 60));
}

CMpegPacket* CMpegSync::NextUnit(CMpegChannel** channel) {
    CMpegPacket* best = nullptr;
    CMpegChannel* bestChannel = nullptr;
    std::int64_t bestKey = 0;
    for (CMpegChannel* c : m_input.Channels()) {
        if (c->IsEmpty()) continue;
        CMpegPacket& p = c->GetTail();
        // Ordered relative to the last unit taken, so that a clock wrap keeps
        // the order of the units on both sides of it.
        const std::int64_t key = m_anyTaken ? Diff33(m_lastTaken, p.m_pts) : 0;
        if (!best || (m_anyTaken ? key < bestKey : p.m_pts < best->m_pts)) {
            best = &p;
            bestChannel = c;
            bestKey = key;
        }
    }
    if (best) {
        best->m_pid = bestChannel->m_pid;
        if (m_basePTS == 0) m_basePTS = best->m_pts;
        m_lastTaken = best->m_pts;
        m_anyTaken = true;
    }
    if (channel) *channel = bestChannel;
    return best;
}

bool CMpegSync::Forward() {
    for (;;) {
        CMpegChannel* in = nullptr;
        CMpegPacket* head = NextUnit(&in);
        if (!head) return true;
        CMpegPacket unit = std::move(*head);
        in->RemoveTail();
        CMpegChannel* out = m_output.Lookup(unit.m_pid);
        if (!out) {
            LogPrintf("No channel found: PID%04X, Inp %08X, Out %08X, Vid %08X", unit.m_pid,
                      in ? 1u : 0u, 0u, m_input.m_videoChannel ? 1u : 0u);
            continue;
        }
        bool pass = false;
        if (in->m_streamType == kStreamVideo) {
            m_videoSeen = true;
            pass = VideoCheck(unit, *in, *out);
        } else if (IsAudio(in->m_streamType) && m_videoSeen) {
            pass = AudioCheck(unit, *in, *out);
        }
        if (!pass) continue;
        unit.m_pts = static_cast<std::uint64_t>(in->m_syncTime);
        if (in->m_streamType == kStreamVideo) unit.m_pts += m_videoTref * kPictureTicks;
        out->Add(std::move(unit));
    }
}

bool CMpegSync::VideoCheck(CMpegPacket& unit, CMpegChannel& in, CMpegChannel&) {
    const std::int64_t d = in.m_frameDuration;
    std::vector<std::uint8_t>& bytes = unit.Bytes();
    const std::size_t from = static_cast<std::size_t>(std::max(unit.m_headerLength, 0));
    std::int64_t diff = in.m_lastPTS != 0 ? Diff33(in.m_lastPTS, unit.m_pts) : 0;
    if (diff < 0) diff = 0;

    bool drop = false;
    if (diff > 10 * d) {
        LogPrintf("Video PID: %04X, PTS: %s", in.m_pid, timeText(unit.m_pts).c_str());
        LogPrintf("   Cut detected! %ds", static_cast<int>(diff / 90000));
        drop = true;
    } else if (!(diff <= 3 * d && !unit.m_flag)) {
        LogPrintf("Video PID: %04X, PTS: %s", in.m_pid, timeText(unit.m_pts).c_str());
        LogPrintf("   Missing GOP detected! %dms", static_cast<int>(diff / 90));
        drop = true;
        // A damaged stream, unless the gap is only a cut area left out.
        if (unit.m_flag) ++m_repairs;
    }
    const std::int64_t outBefore = in.m_syncTime + m_videoTref * kPictureTicks;
    const std::uint64_t sourceBefore = in.m_lastPTS;
    const std::int64_t advance = (drop || diff != 0) ? m_previousPictures * kPictureTicks : 0;
    in.m_syncTime += advance;
    m_previousPictures = CountPictures(bytes, from);
    in.m_lastPTS = unit.m_pts;

    if (in.m_missingSound > 0) {
        in.m_missingSound -= advance;
        in.m_syncTime -= advance;
        LogPrintf("Video PID: %04X, PTS: %s", in.m_pid, timeText(unit.m_pts).c_str());
        if (in.m_missingSound >= 0) return false;
        LogPrintf("   Dropped GOPs!");
        in.m_syncTime += advance;  // continuous; the B pictures are dealt with below
        drop = true;
        in.m_missingSound = 0;
    }
    for (CMpegChannel* c : m_input.Channels()) c->m_checkAllowed = 1;

    // The first GOP of the output has lost its predecessor as well.
    const bool first = m_firstTref < 0;
    // The leading B pictures refer to a GOP that is gone and cannot be shown:
    // removed, and the time line moves back by the pictures taken out (in
    // both modes: a fixed amount would shift the picture against the sound).
    // Not only after 3 s of output: wherever the time line has room for it.
    if (drop && in.m_syncTime >= RemoveLeadingB(bytes, from, false) * kPictureTicks) {
        const int removed = RemoveLeadingB(bytes, from);
        in.m_syncTime -= removed * kPictureTicks;
        // The I picture is now decoded one picture before it is shown, not
        // ahead of the B pictures that were taken out.
        if (removed > 0 && from >= 19 && (bytes[7] & 0xC0) == 0xC0) {
            const std::uint64_t pts = ReadStamp(bytes.data() + 9);
            WriteStamp((pts - kPictureTicks) & (kWrap - 1), 1, bytes.data() + 14);
        }
    }
    int tref = 0, type = 0;
    m_videoTref = PictureFields(bytes, FindCode(bytes, from, 0x00), tref, type) ? tref : 0;
    if (first) m_firstTref = m_videoTref;
    if (diff > 3 * d && sourceBefore != 0) {
        m_jumpFrom = sourceBefore;
        m_jumpTo = unit.m_pts;
        m_jumpDelta = in.m_syncTime + m_videoTref * kPictureTicks - outBefore - diff;
    }
    RewriteTimeCode(bytes, from, in.m_syncTime, drop || first);
    LimitBitRate(bytes, from);
    return true;
}

// The output stamp of the last video unit, for the lead check.
std::int64_t CMpegSync::videoOffset() const {
    return m_input.m_videoChannel->m_syncTime + m_videoTref * kPictureTicks;
}

bool CMpegSync::AudioCheck(CMpegPacket& unit, CMpegChannel& in, CMpegChannel& out) {
    const std::int64_t d = in.m_frameDuration;
    CMpegChannel* video = m_input.m_videoChannel;
    if (!in.m_syncFlag) {
        // The assembly measured the delay against the first picture's PTS,
        // which follows the GOP's display start by its temporal reference.
        in.m_syncFlag = 1;
        in.m_syncTime += std::max(m_firstTref, 0) * kPictureTicks;
    }
    std::int64_t gap = in.m_lastPTS != 0 ? Diff33(in.m_lastPTS, unit.m_pts) : 0;
    if (gap < 0 || gap > kBogusGap) gap = d;
    std::uint64_t remembered = unit.m_pts;
    bool pass = true;
    bool leadCheck = false;

    if (gap > 1.5 * static_cast<double>(d) && video && followVideoJump(unit, in, out, gap)) {
        leadCheck = true;
    } else if (gap > kLongGap && video) {
        const std::int64_t amount = video->m_syncTime + in.m_compensation - in.m_syncTime;
        in.m_syncTime += PadSilence(amount, unit, in, out) + d;
        ++m_repairs;
    } else if ((gap > 1.5 * static_cast<double>(d) || unit.m_flag) && video) {
        const char* name = AudioName(in);
        if (gap > ((video->m_frameDuration - d) >> 1)) {
            LogPrintf("%s Audio PID: %04X, PTS: %s", name, in.m_pid, timeText(unit.m_pts).c_str());
            LogPrintf("   Too many missing sound frame(s) detected! %dms", static_cast<int>(gap / 90));
            LogPrintf("   Dropping corresponding GOP");
            video->m_missingSound = gap;
            in.m_syncTime += d;
            ++m_repairs;
        } else if (gap > 2 * d) {
            LogPrintf("%s Audio PID: %04X, PTS: %s, Diff %dms", name, in.m_pid,
                      timeText(unit.m_pts).c_str(), static_cast<int>((gap - d) / 90));
            LogPrintf("   Missing sound frame(s) detected %dms!", static_cast<int>(gap / 90));
            LogPrintf("   Padding with 'silence'");
            const std::int64_t pad = PadSilence(gap - d, unit, in, out);
            in.m_syncTime += d + pad;
            remembered = unit.m_pts + static_cast<std::uint64_t>(pad);
            ++m_repairs;
        } else {
            in.m_syncTime += d;
            leadCheck = true;
        }
    } else if (in.m_compensation == 0) {
        pass = CompensateDelay(unit, in, out);
        leadCheck = pass;
    } else {
        in.m_syncTime += d;
        leadCheck = true;
    }

    if (leadCheck && video && in.m_checkAllowed) {
        // Output minus source stamp of the video against that of this unit
        // (its own stamp: the previous unit's would bias the check by a frame).
        const std::int64_t lead = videoOffset() - in.m_syncTime +
                                  Diff33(video->m_lastPTS, unit.m_pts);
        if (lead < kLeadLimit && video->m_syncTime != 0 && video->m_missingSound <= 0) {
            in.m_syncTime -= d;
            pass = false;
        } else {
            in.m_checkAllowed = 0;
        }
    } else if (!leadCheck) {
        in.m_checkAllowed = 0;
    }
    in.m_lastPTS = remembered;
    return pass;
}

// An audio gap that spans a jump of the video (a cut area left out, or a
// stretch the receiver lost on all streams) is the same discontinuity: the
// audio follows the video over it, keeping the offset it had to the video
// before, instead of treating the jump as missing sound. The jump may still be
// waiting at the head of the video queue when the audio resumes first.
bool CMpegSync::followVideoJump(const CMpegPacket& unit, CMpegChannel& in, CMpegChannel& out,
                                std::int64_t gap) {
    CMpegChannel* video = m_input.m_videoChannel;
    std::uint64_t from = m_jumpFrom, to = m_jumpTo;
    std::int64_t delta = m_jumpDelta;
    if (!video->IsEmpty() && video->m_lastPTS != 0) {
        const std::uint64_t head = video->GetTail().m_pts;
        const std::int64_t pending = Diff33(video->m_lastPTS, head);
        if (pending > 3 * static_cast<std::int64_t>(video->m_frameDuration)) {
            from = video->m_lastPTS;
            to = head;
            delta = m_previousPictures * kPictureTicks - pending;
        }
    }
    if (in.m_lastPTS == 0) return false;
    // The audio's gap and the video's must overlap.
    if (to == 0 || to == in.m_jumpFollowed || Diff33(in.m_lastPTS, to) <= 0 ||
        Diff33(from, unit.m_pts) <= 0) {
        // A cut area too short for the video to leave a GOP out: the sound
        // it took away is made good with silence, so the two stay together.
        if (!unit.m_afterCut) return false;
        delta = 0;
    } else {
        in.m_jumpFollowed = to;
    }
    const std::int64_t d = in.m_frameDuration;
    const std::int64_t target = in.m_syncTime + gap + delta;  // keeps the offset to the video
    LogPrintf("%s Audio PID: %04X, PTS: %s", AudioName(in), in.m_pid, timeText(unit.m_pts).c_str());
    LogPrintf("   Following the video over a gap of %dms", static_cast<int>(gap / 90));
    const std::int64_t missing = target - in.m_syncTime - d;
    in.m_syncTime += d + (missing > d / 2 ? PadSilence(missing - d / 2, unit, in, out) : 0);
    return true;
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
    if (m_input.m_videoChannel && in.m_syncTime > 0) PadSilence(in.m_syncTime, unit, in, out, true);
    in.m_compensation = in.m_syncTime != 0 ? in.m_syncTime : 1;
    return true;
}

std::int64_t CMpegSync::PadSilence(std::int64_t amount, const CMpegPacket& unit, CMpegChannel& in,
                                   CMpegChannel& out, bool before) {
    const std::int64_t d = in.m_frameDuration;
    if (amount < 1 || d < 1) return 0;
    const int h = unit.m_headerLength;
    if (h < 0 || h > unit.Size()) return 0;
    std::int64_t frames = before ? amount / d : (amount + d - 1) / d;
    // A long gap is only filled as far as the output ring has room.
    const std::int64_t room = out.RingCapacity() - 1 - out.Count() - kRingHeadroom;
    if (frames > room) {
        LogPrintf("   Gap too long for silence, %d frame(s) left out",
                  static_cast<int>(frames - std::max<std::int64_t>(room, 0)));
        frames = std::max<std::int64_t>(room, 0);
    }
    CMpegPacket silence;
    if (in.m_streamType == kStreamAC3) {
        std::vector<std::uint8_t> bytes(unit.Data(), unit.Data() + h);
        bytes.insert(bytes.end(), kSilentAc3Frame, kSilentAc3Frame + kSilentAc3FrameSize);
        silence.SetData(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    } else {
        silence.SetData(unit.Data(), unit.Size());
        // The frame header stays; side information and samples become zero,
        // which a Layer II decoder plays as silence.
        if (unit.Size() > h + 4)
            std::memset(silence.Data() + h + 4, 0, static_cast<std::size_t>(unit.Size() - h - 4));
    }
    silence.m_headerLength = h;
    silence.m_kind = unit.m_kind;
    silence.m_pid = unit.m_pid;
    for (std::int64_t k = 1; k <= frames; ++k) {
        const std::int64_t pts = before ? in.m_syncTime - (frames - k + 1) * d : in.m_syncTime + k * d;
        CMpegPacket copy = silence;
        copy.m_pts = static_cast<std::uint64_t>(std::max<std::int64_t>(pts, 0));
        out.Add(std::move(copy));
    }
    return frames * d;
}
