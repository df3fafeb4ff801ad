// Audio unit assembly: one unit per MPEG audio or AC-3 frame, each led by the
// PES header of the PES it began in and carrying its own PTS.

#include <cstdlib>
#include <cstring>

#include "demux/audio_frame.h"
#include "demux/mpeg_ts_demux.h"
#include "demux/pes_fields.h"
#include "output/channel_set.h"
#include "output/mpeg_channel.h"
#include "shell/log.h"
#include "shell/text.h"

namespace {

constexpr int kNotFound = -1000;
constexpr std::int32_t kScrambledAudioFill = 1024000;
// How far the first frame's stamp may lie from the stamps of the video read
// at the same place of the recording: 2 s for MPEG audio, 1.33 s for AC-3.
// Further off, the stamp is not one of this programme's clock.
constexpr std::int64_t kMpegStartLimit = 180000;
constexpr std::int64_t kAc3StartLimit = 120000;
constexpr std::uint64_t kCutLead = 14400;  // MPEG audio leaves a cut 160 ms early

int FindAudioSync(const std::uint8_t* p, int length) {
    for (int i = 0; i + 1 < length; ++i)
        if (p[i] == 0xFF && (p[i + 1] == 0xFC || p[i + 1] == 0xFD)) return i;
    return kNotFound;
}

int FindAC3Sync(const std::uint8_t* p, int length) {
    for (int i = 0; i + 1 < length; ++i)
        if (p[i] == 0x0B && p[i + 1] == 0x77) return i;
    return kNotFound;
}

bool IsSyncAt(const std::uint8_t* p, bool ac3) {
    return ac3 ? (p[0] == 0x0B && p[1] == 0x77) : (p[0] == 0xFF && (p[1] == 0xFC || p[1] == 0xFD));
}

bool ParseFrame(const std::uint8_t* p, int length, bool ac3, AudioFrame& frame) {
    return ac3 ? AudioFrame::ParseAc3(p, length, frame) : AudioFrame::ParseMpeg(p, length, frame);
}

}  // namespace

bool CMpegTsDemux::startPes(CMpegChannel& channel, const std::uint8_t*& payload, int& length) {
    if (length < 9 || payload[0] != 0 || payload[1] != 0 || payload[2] != 1) return false;
    const int h = pes::HeaderLength(payload, length);
    if (h == 0) {
        channel.m_errorMark = 1;  // damaged header: the frame it belongs to is lost
        return false;
    }
    std::uint64_t pts = channel.m_currentPTS;
    const bool hasPts = pes::HasPts(payload, h);
    if (hasPts) {
        pts = pes::ReadStamp(payload + 9);
        channel.m_latestPTS = pts;
        channel.m_seenPTS = 1;
    }
    const CMpegChannel* video = m_channels->m_videoChannel;
    // Audio ahead of the first picture is not wanted; "ahead" on the 33-bit
    // circle, so that a clock wrap after the video's start does not stop it.
    if (video && !channel.m_started && pes::Diff33(video->m_startPTS, pts) < 0) return false;
    if (channel.m_startPTS == 0 && hasPts) channel.m_startPTS = channel.m_currentPTS = pts;
    std::memcpy(channel.m_savedHeader.data(), payload, static_cast<std::size_t>(h));
    channel.m_savedHeaderLength = h;
    channel.m_seqHeaderSeen = (payload[3] & 0xF0) == 0xC0;
    bool frameOpen = channel.m_started && channel.BufferFill() > channel.m_unitHeaderLength;
    if (frameOpen && channel.m_errorMark) {
        // The frame under way lost a packet (often the one that started its
        // PES): it cannot be completed. The stream starts again at this PES,
        // whose stamp shows the frames lost, so that they are made good.
        abandonFrame(channel);
        frameOpen = false;
    }
    if (channel.m_started && !frameOpen) {
        // The next frame begins in this PES: it gets this PES's header.
        channel.EmptyBuffer();
        channel.Append(payload, h);
        channel.m_unitHeaderLength = h;
    }
    if (hasPts) {
        // While a frame is still open the new stamp is its successor's.
        if (frameOpen) {
            channel.m_pendingPTS = pts;
            channel.m_hasPendingPTS = 1;
        } else {
            channel.m_currentPTS = pts;
        }
    }
    payload += h;
    length -= h;
    return true;
}

// Begins a frame: the buffer gets the saved PES header. The frame's own
// header gives its length once its bytes are held (readFrameHeader).
void CMpegTsDemux::startFrame(CMpegChannel& channel) {
    channel.m_errorMark = channel.m_dropMark = 0;
    channel.EmptyBuffer();
    channel.m_started = 1;
    channel.m_frameLengthKnown = 0;
    channel.Append(channel.m_savedHeader.data(), channel.m_savedHeaderLength);
    channel.m_unitHeaderLength = channel.m_savedHeaderLength;
}

// Reads the header of the frame begun in the buffer, from the bytes held and
// those at q (a header may be split over two packets). 1: read, the expected
// unit length and frame duration are set; 0: more bytes are needed; -1: the
// bytes are no usable frame header.
int CMpegTsDemux::readFrameHeader(CMpegChannel& channel, const std::uint8_t* q, int r) {
    const bool ac3 = channel.m_streamType == kStreamAC3;
    const int want = ac3 ? AudioFrame::kAc3HeaderBytes + 1 : AudioFrame::kMpegHeaderBytes;
    const int held = channel.BufferFill() - channel.m_unitHeaderLength;
    std::uint8_t header[8] = {};
    int n = 0;
    for (; n < held && n < want; ++n) header[n] = channel.Buffer()[channel.m_unitHeaderLength + n];
    for (int i = 0; n < want && i < r; ++n, ++i) header[n] = q[i];
    // An AC-3 header's length is known from six bytes; the seventh (coding
    // mode) is read when it is there.
    const int needed = ac3 ? AudioFrame::kAc3HeaderBytes : AudioFrame::kMpegHeaderBytes;
    if (n < needed) return 0;
    AudioFrame frame;
    if (!ParseFrame(header, n, ac3, frame)) return -1;
    channel.m_expectedUnitLength = channel.m_unitHeaderLength + frame.bytes;
    channel.m_frameDuration = frame.Ticks();
    channel.m_sampleRate = frame.sampleRate;
    channel.m_frameSamples = frame.samples;
    channel.m_frameLengthKnown = 1;
    return 1;
}

// An audio frame whose header or successor is not where it must be: reported
// (unless it lost packets, which are reported already), and the stream looks
// for a frame start again at its next PES.
void CMpegTsDemux::loseFrameStep(CMpegChannel& channel) {
    channel.m_started = 0;
    if (channel.m_errorMark) return;
    ++m_dataErrors;
    LogPrint(std::string(channel.m_streamType == kStreamAC3 ? "Found invalid AC3 frame @ PTS "
                                                            : "Found invalid audio frame @ PTS ") +
                 channel.FormatTime(channel.m_currentPTS),
             1);
}

// The end of the frame whose nominal end lies need bytes into q (r bytes
// held): where its successor's sync word is, looked for at the nominal end
// first and then from one byte before to two bytes after it; without room to
// look, the nominal end. -1 when the successor is not there.
int CMpegTsDemux::frameEnd(const CMpegChannel& channel, const std::uint8_t* q, int r, int need) {
    if (r - need <= 1) return need;
    const bool ac3 = channel.m_streamType == kStreamAC3;
    for (int offset : {0, -1, 1, 2}) {
        const int at = need + offset;
        if (at >= 0 && at + 1 < r && IsSyncAt(q + at, ac3)) return at;
    }
    return -1;
}

// Cuts as many whole frames out of the payload as it completes.
void CMpegTsDemux::cutFrames(CMpegChannel& channel, const std::uint8_t* q, int r) {
    const bool ac3 = channel.m_streamType == kStreamAC3;
    while (channel.m_started && r > 0) {
        if (!channel.m_frameLengthKnown) {
            const int header = readFrameHeader(channel, q, r);
            if (header < 0) {
                loseFrameStep(channel);
                return;
            }
            if (header == 0) {
                channel.Append(q, r);
                return;
            }
        }
        const int need = channel.m_expectedUnitLength - channel.BufferFill();
        if (need < 0) {  // a frame length the buffer already passed: lost step
            channel.m_started = 0;
            return;
        }
        if (r < need) {
            channel.Append(q, r);
            return;
        }
        const int end = frameEnd(channel, q, r, need);
        if (end < 0) {
            loseFrameStep(channel);
            return;
        }
        channel.Append(q, end);
        // A frame that lost a packet is not passed on; its time passes all
        // the same, so that the next frame's stamp shows the gap.
        if (!channel.m_errorMark) {
            queueUnit(channel, channel.m_currentPTS, ac3 ? kKindAC3 : kKindMpegAudio,
                      channel.BufferFill());
            if (!ac3) channel.m_runningDuration += channel.m_frameDuration;
        }
        channel.m_currentPTS += static_cast<std::uint64_t>(channel.m_frameDuration);
        if (channel.m_hasPendingPTS) {
            channel.m_currentPTS = channel.m_pendingPTS;
            channel.m_hasPendingPTS = 0;
        }
        q += end;
        r -= end;
        startFrame(channel);
    }
}

// Drops the frame under way. The channel counts as not started from here on,
// so that each later PES moves its current stamp on (a stamp held back for an
// open frame would keep the stream in a cut area for good) and the stream
// finds a frame start again.
void CMpegTsDemux::abandonFrame(CMpegChannel& channel) {
    channel.m_started = 0;
    channel.EmptyBuffer();
    if (channel.m_hasPendingPTS) channel.m_currentPTS = channel.m_pendingPTS;
    channel.m_hasPendingPTS = 0;
}

// Whether the stream may start with a frame stamped as the channel's current
// PTS. The stamp must belong to the programme's clock: near the stamps of the
// video read at the same place of the recording. A stream may start late
// (reception of the sound came back later); it is then preceded by silence.
bool CMpegTsDemux::startsInTime(CMpegChannel& channel) {
    const CMpegChannel* video = m_channels->m_videoChannel;
    if (!video) return true;
    if (channel.m_syncTime == 0) {
        const std::uint64_t near = video->m_seenPTS ? video->m_latestPTS : video->m_startPTS;
        const std::int64_t limit = channel.m_streamType == kStreamAC3 ? kAc3StartLimit : kMpegStartLimit;
        if (std::llabs(pes::Diff33(near, channel.m_currentPTS)) >= limit) return false;
        channel.m_syncTime = pes::Diff33(video->m_startPTS, channel.m_currentPTS);
    }
    return true;
}

void CMpegTsDemux::assembleAudio(CMpegChannel& channel, const std::uint8_t* payload, int length,
                                 bool unitStart) {
    const bool ac3 = channel.m_streamType == kStreamAC3;
    const CMpegChannel* video = m_channels->m_videoChannel;
    if (video && !video->m_started) return;
    const bool tookPes = unitStart && startPes(channel, payload, length);

    const std::uint64_t lead = channel.m_inCut && !ac3 ? kCutLead : 0;
    if (FindCutArea(static_cast<std::int64_t>(channel.m_currentPTS + lead))) {
        if (!channel.m_inCut) abandonFrame(channel);
        channel.m_inCut = 1;
        return;
    }
    if (channel.m_inCut) {
        if (!ac3) {
            if (CCutArea* area = FindCutArea(static_cast<std::int64_t>(channel.m_currentPTS)))
                area->IsEnabled = false;
        }
        channel.m_inCut = 0;
        channel.m_started = 0;
        channel.m_leftCut = 1;
    }

    if (!channel.m_started && tookPes) {
        const int f = ac3 ? FindAC3Sync(payload, length) : FindAudioSync(payload, length);
        AudioFrame frame;
        // A sync word whose header is at hand must be a usable header.
        const bool usable = f >= 0 && (length - f < (ac3 ? AudioFrame::kAc3HeaderBytes
                                                         : AudioFrame::kMpegHeaderBytes) ||
                                       ParseFrame(payload + f, length - f, ac3, frame));
        if (usable && startsInTime(channel)) {
            startFrame(channel);
            payload += f;
            length -= f;
        }
    }

    if (channel.m_started) {
        cutFrames(channel, payload, length);
        return;
    }
    if (channel.BufferFill() >= kScrambledAudioFill + 1) {
        LogPrint(std::string(ac3 ? "AC3 audio stream seems to be scrambled!!! "
                                 : "MPEG audio stream seems to be scrambled!!! ") +
                     Hex16(channel.m_pid),
                 1);
        ++m_dataErrors;  // the stream is left out from here on
        channel.EmptyBuffer();
        m_dropPid = channel.m_pid;
        return;
    }
    channel.Append(payload, length);
}
