// Elementary-stream unit assembly: video units from one sequence header to the
// next, audio units of one MPEG audio or AC-3 frame, each led by a PES header
// carrying its PTS, queued in the stream's channel.

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "demux/mpeg_ts_demux.h"
#include "demux/start_code.h"
#include "demux/raw_file.h"
#include "output/channel_set.h"
#include "output/mpeg_channel.h"
#include "output/mpeg_channel_exception.h"
#include "shell/log.h"
#include "shell/text.h"

namespace {

constexpr int kNotFound = -1000;
constexpr std::int32_t kScrambledVideoFill = 2048000;
constexpr std::int32_t kScrambledAudioFill = 1024000;
constexpr std::int64_t kGopTicks = 43200;
constexpr std::int64_t kMpegStartLimit = 180000;  // 2 s
constexpr std::int64_t kAc3StartLimit = 120000;
constexpr std::uint64_t kCutLead = 14400;  // MPEG audio leaves a cut 160 ms early
constexpr std::int64_t kWrap = 1ll << 33;

// Layer II bit rates of MPEG-1 audio (ISO/IEC 11172-3), kbit/s by index.
constexpr int kLayer2Rates[16] = {0,   32,  48,  56,  64,  80,  96,  112,
                                  128, 160, 192, 224, 256, 320, 384, 0};
constexpr int kMpegSampleRates[4] = {44100, 48000, 32000, 0};

// AC-3 frame sizes in 16-bit words (ATSC A/52 table 5.18), by fscod and frmsizecod.
constexpr int kAc3Words[3][38] = {
    {64,  64,  80,  80,  96,  96,  112, 112, 128, 128,  160,  160,  192,
     192, 224, 224, 256, 256, 320, 320, 384, 384, 448,  448,  512,  512,
     640, 640, 768, 768, 896, 896, 1024, 1024, 1152, 1152, 1280, 1280},
    {69,  70,  87,  88,  104, 105, 121, 122, 139, 140,  174,  175,  208,
     209, 243, 244, 278, 279, 348, 349, 417, 418, 487,  488,  557,  558,
     696, 697, 835, 836, 975, 976, 1114, 1115, 1253, 1254, 1393, 1394},
    {96,  96,  120, 120, 144, 144, 168, 168, 192, 192,  240,  240,  288,
     288, 336, 336, 384, 384, 480, 480, 576, 576, 672,  672,  768,  768,
     960, 960, 1152, 1152, 1344, 1344, 1536, 1536, 1728, 1728, 1920, 1920}};
constexpr int kAc3SampleRates[3] = {48000, 44100, 32000};

// 00 00 01 followed by id (any byte when id < 0) in one payload.
int FindStartCode(const std::uint8_t* p, int length, int id) {
    if (length <= 0) return kNotFound;
    const std::size_t n = static_cast<std::size_t>(length);
    const std::size_t at = id < 0 ? FindStartCodePrefix(p, n, 0)
                                  : ::FindStartCode(p, n, 0, static_cast<std::uint8_t>(id));
    return at == mpeg::kNotFound ? kNotFound : static_cast<int>(at);
}

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

// later - earlier on the 33-bit circle, in [-2^32, 2^32).
std::int64_t Diff33(std::uint64_t earlier, std::uint64_t later) {
    std::int64_t d = static_cast<std::int64_t>((later - earlier) & (kWrap - 1));
    return d >= kWrap / 2 ? d - kWrap : d;
}

std::uint64_t ReadStamp(const std::uint8_t* p) {
    return (static_cast<std::uint64_t>(p[0] & 0x0E) << 29) | (static_cast<std::uint64_t>(p[1]) << 22) |
           (static_cast<std::uint64_t>(p[2] & 0xFE) << 14) | (static_cast<std::uint64_t>(p[3]) << 7) |
           (p[4] >> 1);
}

// Writes a PTS keeping the high nibble of the first byte and all marker bits set.
void WritePTS(std::uint64_t pts, std::uint8_t* p) {
    p[0] = static_cast<std::uint8_t>((p[0] & 0xF0) | ((pts >> 29) & 0x0E) | 1);
    p[1] = static_cast<std::uint8_t>(pts >> 22);
    p[2] = static_cast<std::uint8_t>(((pts >> 14) & 0xFE) | 1);
    p[3] = static_cast<std::uint8_t>(pts >> 7);
    p[4] = static_cast<std::uint8_t>(((pts << 1) & 0xFE) | 1);
}

bool HasPts(const std::uint8_t* header, int length) {
    return length >= 14 && (header[7] & 0x80) != 0;
}

// The header length of a PES that starts at p, or 0 when it does not fit in
// what is held (or in a saved header): such a header is damaged data.
int PesHeaderLength(const std::uint8_t* p, int length) {
    if (length < 9) return 0;
    const int h = 9 + p[8];
    return h <= length && h <= 255 ? h : 0;
}

}  // namespace

CMpegTsDemux::Step CMpegTsDemux::assemble(CMpegChannel& channel, const std::uint8_t* payload,
                                          int length, bool unitStart) {
    switch (channel.m_streamType) {
        case kStreamVideo: return assembleVideo(channel, payload, length, unitStart);
        case kStreamMpeg1Audio:
        case kStreamMpeg2Audio:
        case kStreamAC3: assembleAudio(channel, payload, length, unitStart); break;
        default: break;
    }
    return Step::Next;
}

void CMpegTsDemux::queueUnit(CMpegChannel& channel, std::uint64_t pts, std::uint32_t kind,
                             int length) {
    CMpegPacket packet;
    packet.Init(channel.m_pid, pts, kind, channel.m_dropMark);
    // A video unit (a whole GOP) moves over; an audio frame is copied, so
    // that the assembly buffer is not given up for every frame.
    if (kind == kKindVideo)
        packet.SetData(channel.TakeBuffer(length));
    else
        packet.SetData(channel.Buffer(), length);
    packet.m_headerLength = channel.m_unitHeaderLength;
    packet.m_afterCut = channel.m_leftCut;
    channel.m_leftCut = 0;
    if (HasPts(packet.Data(), std::min(length, packet.m_headerLength)))
        WritePTS(pts, packet.Data() + 9);
    channel.Add(std::move(packet));
}

CMpegTsDemux::Step CMpegTsDemux::assembleVideo(CMpegChannel& channel,
                                               const std::uint8_t* payload, int length,
                                               bool unitStart) {
    bool startsPes = false;
    int pesLength = 0;
    if (unitStart && length >= 4 && payload[0] == 0 && payload[1] == 0 && payload[2] == 1 &&
        (payload[3] & 0xF0) == 0xE0) {
        pesLength = PesHeaderLength(payload, length);
        if (pesLength == 0) {
            // A header longer than the packet holds: damaged, never copied.
            channel.m_errorMark = 1;
            return Step::Next;
        }
        std::memcpy(m_videoHeader, payload, static_cast<std::size_t>(pesLength));
        m_videoHeaderLength = pesLength;
        startsPes = true;
    }

    const int seq = FindStartCode(payload + pesLength, length - pesLength, 0xB3);
    if (seq < 0) {
        if (startsPes && channel.m_started) {
            // The elementary stream goes on after this PES header.
            const int sc = FindStartCode(payload + pesLength, length - pesLength, -1);
            if (sc >= 0) channel.Append(payload + pesLength + sc, length - pesLength - sc);
            return Step::Next;
        }
        if (channel.BufferFill() > kScrambledVideoFill) {
            // The rest of the recording is not demultiplexed: the job must
            // not pass for a clean one.
            ++m_dataErrors;
            LogPrint("MPEG video stream seems to be (partly) scrambled!!! PID=" + Hex16(channel.m_pid), 1);
            return Step::Stop;
        }
        if (channel.m_seqHeaderSeen && !channel.m_errorMark) channel.Append(payload, length);
        return Step::Next;
    }
    const int at = pesLength + seq;

    // The first unit can only begin where a PES header with a PTS has been seen.
    if (!channel.m_started && !HasPts(m_videoHeader, m_videoHeaderLength)) return Step::Next;
    channel.m_seqHeaderSeen = 1;
    // A unit whose PES header has no PTS follows its predecessor by one GOP.
    std::uint64_t unitPts = channel.m_currentPTS + kGopTicks;
    if (HasPts(channel.Buffer(), std::min(channel.BufferFill(), channel.m_unitHeaderLength)))
        unitPts = ReadStamp(channel.Buffer() + 9);

    if (!channel.m_started) {
        const std::uint64_t first = ReadStamp(m_videoHeader + 9);
        LogWrite("First Video PTS is: " + channel.FormatTime(first), 3);
        channel.m_errorMark = channel.m_dropMark = 0;
        channel.m_started = 1;
        channel.m_startPTS = first;
        channel.m_currentPTS = first;
    }

    if (channel.BufferFill() > 0) {
        CCutArea* area = FindCutArea(static_cast<std::int64_t>(unitPts));
        if (!area) {
            // A GOP that lost packets is not passed on: its remainder was not
            // collected, so it would end in a broken picture. The next unit
            // carries the drop mark, which the synchroniser treats as a gap.
            if (!channel.m_errorMark) {
                queueUnit(channel, unitPts, kKindVideo, channel.BufferFill());
                channel.m_runningDuration += kGopTicks;
                channel.m_dropMark = 0;
            }
            channel.m_currentPTS = unitPts;
            channel.m_inCut = 0;
        } else if (!channel.m_inCut) {
            bool othersInCut = true;
            for (CMpegChannel* c : m_channels->Channels())
                if (c != &channel && !c->m_inCut) othersInCut = false;
            if (othersInCut) {
                jumpOverCut(*area);
                return Step::Next;  // the unit stays in the buffer
            }
        }
        channel.m_dropMark = channel.m_errorMark | channel.m_dropMark;
        if (channel.m_dropMark) {
            ++m_dataErrors;
            LogPrint("Dropping Video Frame @ PTS " + channel.FormatTime(unitPts), 1);
        }
        channel.m_errorMark = 0;
    }

    channel.EmptyBuffer();
    if (channel.BufferCapacity() <= m_videoHeaderLength) {
        LogWrite("MPEG Buffer Full!!!, StreamType: " + std::to_string(channel.m_streamType), 1);
        throw CMpegChannelException("Buffer Full!!!");
    }
    std::memcpy(channel.m_savedHeader.data(), m_videoHeader,
                static_cast<std::size_t>(m_videoHeaderLength));
    channel.m_savedHeaderLength = m_videoHeaderLength;
    channel.m_unitHeaderLength = m_videoHeaderLength;
    channel.Append(m_videoHeader, m_videoHeaderLength);
    channel.Append(payload + at, length - at);
    return Step::Next;
}

void CMpegTsDemux::jumpOverCut(const CCutArea& area) {
    for (CMpegChannel* c : m_channels->Channels()) c->m_expectedUnitLength = 0;
    // Land 1 MiB before the end of the area, so that the streams find their
    // footing again before the first unit after it; never before the file start.
    const std::uint64_t target = area.SectorEnd > 2048 ? (area.SectorEnd - 2048) * kSectorSize : 0;
    if (m_recording->GetPosition() < target)
        m_recording->Seek(static_cast<std::int64_t>(target), CRawFile::begin);
    if (m_channels->m_videoChannel) m_channels->m_videoChannel->m_inCut = 1;
    for (sPMTEntry& e : m_pmt) e.lastContinuity = -1;
}

bool CMpegTsDemux::startPes(CMpegChannel& channel, const std::uint8_t*& payload, int& length) {
    if (length < 9 || payload[0] != 0 || payload[1] != 0 || payload[2] != 1) return false;
    const int h = PesHeaderLength(payload, length);
    if (h == 0) {
        channel.m_errorMark = 1;  // damaged header: the frame it belongs to is lost
        return false;
    }
    std::uint64_t pts = channel.m_currentPTS;
    const bool hasPts = HasPts(payload, h);
    if (hasPts) pts = ReadStamp(payload + 9);
    const CMpegChannel* video = m_channels->m_videoChannel;
    // Audio ahead of the first picture is not wanted; "ahead" on the 33-bit
    // circle, so that a clock wrap after the video's start does not stop it.
    if (video && !channel.m_started && Diff33(video->m_startPTS, pts) < 0) return false;
    if (channel.m_startPTS == 0 && hasPts) channel.m_startPTS = channel.m_currentPTS = pts;
    std::memcpy(channel.m_savedHeader.data(), payload, static_cast<std::size_t>(h));
    channel.m_savedHeaderLength = h;
    channel.m_seqHeaderSeen = (payload[3] & 0xF0) == 0xC0;
    const bool frameOpen = channel.m_started && channel.BufferFill() > channel.m_unitHeaderLength;
    if (channel.m_started && !frameOpen) {
        // The next frame begins in this PES: it gets this PES's header.
        channel.m_expectedUnitLength += h - channel.m_unitHeaderLength;
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

// Begins a frame at frame: the buffer gets the saved PES header, the expected
// unit length and frame duration come from the frame header. False when the
// header is not a usable one (free format, reserved rate, table index out of
// range).
bool CMpegTsDemux::startFrame(CMpegChannel& channel, const std::uint8_t* frame, int length) {
    const bool ac3 = channel.m_streamType == kStreamAC3;
    if (length >= (ac3 ? 5 : 4)) {
        int bytes = 0;
        std::int32_t duration = 0;
        if (ac3) {
            const int fscod = frame[4] >> 6;
            const int code = frame[4] & 0x3F;
            if (fscod > 2 || code >= 38) return false;
            bytes = 2 * kAc3Words[fscod][code];
            duration = static_cast<std::int32_t>(1536ll * 90000 / kAc3SampleRates[fscod]);
        } else {
            const int rate = kLayer2Rates[frame[2] >> 4];
            const int sampleRate = kMpegSampleRates[(frame[2] >> 2) & 3];
            if (rate == 0 || sampleRate == 0) return false;
            bytes = sampleRate == 44100
                        ? static_cast<int>(std::lround(144.0 * rate * 1000 / sampleRate))
                        : 144 * rate * 1000 / sampleRate;
            duration = bytes * 720 / rate;
        }
        channel.m_expectedUnitLength = channel.m_savedHeaderLength + bytes;
        channel.m_frameDuration = duration;
    }
    channel.m_errorMark = channel.m_dropMark = 0;
    channel.EmptyBuffer();
    channel.m_started = 1;
    channel.Append(channel.m_savedHeader.data(), channel.m_savedHeaderLength);
    channel.m_unitHeaderLength = channel.m_savedHeaderLength;
    return true;
}

// An audio frame whose header or successor is not where it must be: reported,
// and the stream looks for a frame start again at its next PES.
void CMpegTsDemux::loseFrameStep(CMpegChannel& channel) {
    ++m_dataErrors;
    LogPrint(std::string(channel.m_streamType == kStreamAC3 ? "Found invalid AC3 frame @ PTS "
                                                            : "Found invalid audio frame @ PTS ") +
                 channel.FormatTime(channel.m_currentPTS),
             1);
    channel.m_started = 0;
}

// Cuts as many whole frames out of the payload as it completes. A frame ends
// where its successor's sync word is found, from one byte before to two bytes
// after its nominal end (the padding bit is not counted in the nominal
// length); without room to look, at the nominal end.
void CMpegTsDemux::cutFrames(CMpegChannel& channel, const std::uint8_t* q, int r) {
    const bool ac3 = channel.m_streamType == kStreamAC3;
    while (channel.m_started && r > 0) {
        // A frame begins here (after a PES header): its own header decides
        // its length, and a header that is not one ends the stream's step.
        if (channel.BufferFill() == channel.m_unitHeaderLength && r >= (ac3 ? 5 : 4) &&
            (!IsSyncAt(q, ac3) || !startFrame(channel, q, r))) {
            loseFrameStep(channel);
            return;
        }
        const int need = channel.m_expectedUnitLength - channel.BufferFill();
        if (need < 0 || r < need) {
            if (need < 0) {  // a frame length the buffer already passed: lost step
                channel.m_started = 0;
                return;
            }
            channel.Append(q, r);
            return;
        }
        int end = need;
        if (r - need > 1) {
            end = -1;
            for (int at = std::max(need - 1, 0); at <= need + 2 && at + 1 < r; ++at)
                if (IsSyncAt(q + at, ac3)) {
                    end = at;
                    break;
                }
            if (end < 0) {
                loseFrameStep(channel);
                return;
            }
        }
        channel.Append(q, end);
        if (!channel.m_errorMark) {
            queueUnit(channel, channel.m_currentPTS, ac3 ? kKindAC3 : kKindMpegAudio,
                      channel.BufferFill());
            if (!ac3) channel.m_runningDuration += channel.m_frameDuration;
            channel.m_currentPTS += static_cast<std::uint64_t>(channel.m_frameDuration);
        }
        if (channel.m_hasPendingPTS) {
            channel.m_currentPTS = channel.m_pendingPTS;
            channel.m_hasPendingPTS = 0;
        }
        q += end;
        r -= end;
        if (!startFrame(channel, q, r)) {
            loseFrameStep(channel);
            return;
        }
    }
}

// Entering a cut area drops the frame under way. The channel counts as not
// started from here on, so that each PES inside the area moves its current
// stamp on (a stamp held back for an open frame would keep the stream in the
// area for good) and the stream finds a frame start again behind the area.
void CMpegTsDemux::abandonFrame(CMpegChannel& channel) {
    channel.m_started = 0;
    channel.EmptyBuffer();
    if (channel.m_hasPendingPTS) channel.m_currentPTS = channel.m_pendingPTS;
    channel.m_hasPendingPTS = 0;
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
        bool start = f >= 0;
        if (start && video) {
            const std::int64_t delay = Diff33(video->m_startPTS, channel.m_currentPTS);
            const std::int64_t limit = ac3 ? kAc3StartLimit : kMpegStartLimit;
            if (std::llabs(delay) >= limit && channel.m_syncTime == 0) start = false;
            if (start && channel.m_syncTime == 0) channel.m_syncTime = delay;
        }
        if (start && startFrame(channel, payload + f, length - f)) {
            payload += f;
            length -= f;
        }
    }

    if (channel.m_started) {
        cutFrames(channel, payload, length);
        return;
    }
    if (channel.BufferFill() >= (ac3 ? kScrambledAudioFill + 1 : kScrambledAudioFill + 1)) {
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
