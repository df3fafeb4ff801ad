// Elementary-stream unit assembly: the dispatch by stream type, queueing a
// finished unit, and video units from one sequence header to the next, each
// led by the PES header it began in (audio units: audio_assembly.cpp).

#include <algorithm>
#include <cstring>

#include "demux/mpeg_ts_demux.h"
#include "demux/pes_fields.h"
#include "demux/start_code.h"
#include "demux/raw_file.h"
#include "output/channel_set.h"
#include "output/mpeg_channel.h"
#include "output/mpeg_channel_exception.h"
#include "shell/log.h"
#include "shell/text.h"

namespace {

constexpr int kNotFound = -1000;
// Video that shows no sequence header for this many bytes counts as scrambled
// (2,048,000 bytes, or four seconds of the bit rate its sequence header
// gives, whichever is more: an HD stream at 15 Mbit/s with 1 s GOPs has
// GOPs of 1.9 MB).
constexpr std::int32_t kScrambledVideoFill = 2048000;
constexpr std::int64_t kScrambledVideoSeconds = 4;
// Room kept in the assembly buffer above that limit, for the payloads that
// arrive until the next check.
constexpr std::int32_t kVideoBufferHeadroom = 1 << 20;
constexpr std::int64_t kGopTicks = 43200;
constexpr std::uint32_t kVariableBitRate = 0x3FFFF;

// 00 00 01 followed by id (any byte when id < 0) in one payload.
int FindStartCode(const std::uint8_t* p, int length, int id) {
    if (length <= 0) return kNotFound;
    const std::size_t n = static_cast<std::size_t>(length);
    const std::size_t at = id < 0 ? FindStartCodePrefix(p, n, 0)
                                  : ::FindStartCode(p, n, 0, static_cast<std::uint8_t>(id));
    return at == mpeg::kNotFound ? kNotFound : static_cast<int>(at);
}

// Writes a PTS keeping the high nibble of the first byte and all marker bits set.
void WritePTS(std::uint64_t pts, std::uint8_t* p) {
    pes::WriteStamp(pts, static_cast<std::uint8_t>(p[0] >> 4), p);
}

// Whether a video payload begins with a PES header (00 00 01 E0..EF).
bool IsVideoPesStart(const std::uint8_t* payload, int length) {
    return length >= 4 && payload[0] == 0 && payload[1] == 0 && payload[2] == 1 &&
           (payload[3] & 0xF0) == 0xE0;
}

// The picture_coding_type of the picture header at p (00 00 01 00), 0 when
// the header is not wholly held.
int PictureType(const std::uint8_t* p, int length) {
    return length >= 6 ? (p[5] >> 3) & 7 : 0;
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
    if (pes::HasPts(packet.Data(), std::min(length, packet.m_headerLength)))
        WritePTS(pts, packet.Data() + 9);
    channel.Add(std::move(packet));
}

// Takes the PES header that begins a video payload into the store of the
// last one; false when it is longer than the payload holds (damage).
bool CMpegTsDemux::takeVideoHeader(CMpegChannel& channel, const std::uint8_t* payload, int length,
                                   int& headerLength) {
    headerLength = pes::HeaderLength(payload, length);
    if (headerLength == 0) return false;
    std::memcpy(m_videoHeader, payload, static_cast<std::size_t>(headerLength));
    m_videoHeaderLength = headerLength;
    if (pes::HasPts(payload, headerLength)) {
        channel.m_latestPTS = pes::ReadStamp(payload + 9);
        channel.m_seenPTS = 1;
    }
    return true;
}

// The unit in the buffer lost packets after the bytes it holds. The pictures
// before the damaged one are whole and are kept. The cut goes to the last I
// or P picture at or before the damage: it is shown after the B pictures
// that follow it in the stream, so a damaged B picture would otherwise leave
// a hole before it, and everything after it refers to it. Nothing more is
// collected until the next sequence header.
void CMpegTsDemux::sealVideoUnit(CMpegChannel& channel) {
    channel.m_unitSealed = 1;
    const int cut = wholePicturesEnd(channel);
    if (cut < 0) return;  // no picture begun: the unit is given up as it is
    channel.TruncateBuffer(cut);
    ++m_dataErrors;
    LogPrint("Dropping Video Frame @ PTS " + channel.FormatTime(channel.m_unitPTS), 1);
}

// Where the whole pictures of the unit in the buffer end when its last
// picture is damaged or cut short: at the last I or P picture (or a picture
// whose header is not wholly held), else at the first picture; -1 when no
// picture has begun.
int CMpegTsDemux::wholePicturesEnd(CMpegChannel& channel) const {
    const std::uint8_t* d = channel.Buffer();
    const int from = channel.m_unitHeaderLength;
    const int fill = channel.BufferFill();
    int first = -1, lastAnchor = -1;
    int at = FindStartCode(d + from, fill - from, 0x00);
    at = at < 0 ? -1 : at + from;
    while (at >= 0) {
        if (first < 0) first = at;
        if (PictureType(d + at, fill - at) != 3) lastAnchor = at;
        const int next = FindStartCode(d + at + 4, fill - at - 4, 0x00);
        at = next < 0 ? -1 : at + 4 + next;
    }
    return lastAnchor >= 0 ? lastAnchor : first;
}

// Whether the unit in the buffer holds at least one picture.
bool CMpegTsDemux::unitHasPicture(CMpegChannel& channel) const {
    const int from = channel.m_unitHeaderLength;
    return FindStartCode(channel.Buffer() + from, channel.BufferFill() - from, 0x00) >= 0;
}

// The scrambled-video limit and the buffer it needs, from the bit rate a
// sequence header states (bit_rate_value in units of 400 bit/s).
void CMpegTsDemux::noteVideoBitRate(CMpegChannel& channel, const std::uint8_t* sequence, int length) {
    if (length < 11) return;
    const std::uint32_t value = (sequence[8] << 10) | (sequence[9] << 2) | (sequence[10] >> 6);
    std::int64_t limit = kScrambledVideoFill;
    if (value != kVariableBitRate)
        limit = std::max<std::int64_t>(limit, std::int64_t{value} * 400 / 8 * kScrambledVideoSeconds);
    m_scrambledVideoFill = static_cast<std::int32_t>(limit);
    const auto wanted = static_cast<std::int32_t>(limit + kVideoBufferHeadroom);
    if (channel.BufferCapacity() < wanted) channel.SetBufferCapacity(wanted);
}

CMpegTsDemux::Step CMpegTsDemux::assembleVideo(CMpegChannel& channel,
                                               const std::uint8_t* payload, int length,
                                               bool unitStart) {
    int pesLength = 0;
    bool startsPes = false;
    if (unitStart && IsVideoPesStart(payload, length)) {
        // A header longer than the packet holds is damage, never copied.
        if (!takeVideoHeader(channel, payload, length, pesLength)) channel.m_errorMark = 1;
        startsPes = pesLength > 0;
    }
    // A loss reported for this packet damaged the unit under way.
    if (channel.m_errorMark && !channel.m_unitSealed && channel.m_started &&
        channel.BufferFill() > channel.m_unitHeaderLength)
        sealVideoUnit(channel);
    if (unitStart && IsVideoPesStart(payload, length) && !startsPes) return Step::Next;

    const int seq = FindStartCode(payload + pesLength, length - pesLength, 0xB3);
    const bool collecting = channel.m_seqHeaderSeen && !channel.m_errorMark && !channel.m_unitSealed;
    if (seq < 0) {
        if (startsPes && channel.m_started) {
            // The elementary stream goes on after this PES header: every byte
            // of it is kept, whether or not it begins with a start code.
            if (collecting) channel.Append(payload + pesLength, length - pesLength);
            return Step::Next;
        }
        if (channel.BufferFill() > m_scrambledVideoFill) {
            // The rest of the recording is not demultiplexed: the job must
            // not pass for a clean one.
            ++m_dataErrors;
            LogPrint("MPEG video stream seems to be (partly) scrambled!!! PID=" + Hex16(channel.m_pid), 1);
            return Step::Stop;
        }
        if (collecting) channel.Append(payload, length);
        return Step::Next;
    }
    const int at = pesLength + seq;
    // The bytes before the sequence header end the unit under way.
    if (collecting && channel.m_started) channel.Append(payload + pesLength, seq);

    // The first unit can only begin where a PES header with a PTS has been seen.
    if (!channel.m_started && !pes::HasPts(m_videoHeader, m_videoHeaderLength)) return Step::Next;
    channel.m_seqHeaderSeen = 1;
    // A unit whose PES header has no PTS follows its predecessor by one GOP.
    std::uint64_t unitPts = channel.m_currentPTS + kGopTicks;
    if (pes::HasPts(channel.Buffer(), std::min(channel.BufferFill(), channel.m_unitHeaderLength)))
        unitPts = pes::ReadStamp(channel.Buffer() + 9);

    if (!channel.m_started) {
        const std::uint64_t first = pes::ReadStamp(m_videoHeader + 9);
        LogWrite("First Video PTS is: " + channel.FormatTime(first), 3);
        channel.m_errorMark = channel.m_dropMark = 0;
        channel.m_started = 1;
        channel.m_startPTS = first;
        channel.m_currentPTS = first;
    }

    if (channel.BufferFill() > 0) {
        CCutArea* area = FindCutArea(static_cast<std::int64_t>(unitPts));
        if (!area) {
            // A unit cut at a loss keeps its whole pictures; the next unit
            // carries the drop mark, which the synchroniser treats as a gap.
            const bool damaged = channel.m_errorMark || channel.m_unitSealed;
            if (!damaged || unitHasPicture(channel)) {
                queueUnit(channel, unitPts, kKindVideo, channel.BufferFill());
                channel.m_runningDuration += kGopTicks;
            } else {
                ++m_dataErrors;
                LogPrint("Dropping Video Frame @ PTS " + channel.FormatTime(unitPts), 1);
            }
            channel.m_dropMark = damaged ? 1 : 0;
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
        channel.m_errorMark = 0;
    }

    channel.EmptyBuffer();
    channel.m_unitSealed = 0;
    if (channel.BufferCapacity() <= m_videoHeaderLength) {
        LogWrite("MPEG Buffer Full!!!, StreamType: " + std::to_string(channel.m_streamType), 1);
        throw CMpegChannelException("Buffer Full!!!");
    }
    noteVideoBitRate(channel, payload + at, length - at);
    std::memcpy(channel.m_savedHeader.data(), m_videoHeader,
                static_cast<std::size_t>(m_videoHeaderLength));
    channel.m_savedHeaderLength = m_videoHeaderLength;
    channel.m_unitHeaderLength = m_videoHeaderLength;
    channel.m_unitPTS = pes::HasPts(m_videoHeader, m_videoHeaderLength)
                            ? pes::ReadStamp(m_videoHeader + 9)
                            : channel.m_currentPTS + kGopTicks;
    channel.m_unitPTSValid = 1;
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
