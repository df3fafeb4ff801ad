#include "engine/hd_video_track.h"

#include <utility>

#include "codec/video_codec.h"
#include "codec/h264_access_unit_scanner.h"
#include "demux/export_timeline.h"
#include "output/mpeg_channel.h"
#include "shell/log.h"
#include "shell/text.h"

namespace {

std::unique_ptr<codec::IAccessUnitScanner> scannerFor(const sPMTEntry& stream) {
    const codec::IVideoCodec* video = codec::VideoCodecFor(EntryCodec(stream));
    std::unique_ptr<codec::IAccessUnitScanner> scanner = video->NewScanner();
    // A stream that marks no random-access point is cut at its I pictures.
    if (EntryCodec(stream) == StreamCodec::H264)
        static_cast<codec::H264AccessUnitScanner&>(*scanner).SetIntraIsRandomAccess(
            stream.randomAccessMarks == 2);
    return scanner;
}

}  // namespace

CHdVideoTrack::CHdVideoTrack(const sPMTEntry& stream, CMpegChannel& output, CExportTimeline& timeline,
                             StampReference& reference, GroupFilter keepGroup)
    : m_pid(static_cast<std::uint16_t>(stream.pid)),
      m_codec(EntryCodec(stream)),
      m_output(output),
      m_timeline(timeline),
      m_clock(reference),
      m_keepGroup(std::move(keepGroup)),
      m_assembler(scannerFor(stream)),
      m_splicer(EntryCodec(stream)) {}

std::string CHdVideoTrack::label() const {
    return std::string(CodecDisplayName(m_codec)) + " PID " + Hex16(m_pid);
}

void CHdVideoTrack::Feed(const codec::VideoPayload& payload, bool unitStart, bool lost) {
    m_assembler.Feed(payload, unitStart, lost);
    for (codec::AssembledUnit& unit : m_assembler.TakeUnits()) take(unit);
}

void CHdVideoTrack::Finish() {
    m_assembler.Finish();
    for (codec::AssembledUnit& unit : m_assembler.TakeUnits()) take(unit);
    m_splicer.Finish();
    commitReleased();
    reportDamage();
    m_timeline.Finish();
}

// Source time of a unit: its PTS (or, decoding, its DTS) on the programme's
// clock; a unit without a stamp of its own follows the last by one frame.
std::int64_t CHdVideoTrack::sourceTime(const codec::AssembledUnit& unit, bool decoding) {
    if (decoding && unit.hasDts) return m_clock.Unwrap(unit.dts);
    if (unit.hasPts) return m_clock.Unwrap(unit.pts);
    if (unit.hasStamp) return m_clock.Unwrap(unit.stamp);
    return m_decodedTo + m_frameTicks;
}

void CHdVideoTrack::take(codec::AssembledUnit& unit) {
    if (!m_hasFirstStamp && unit.hasStamp) {
        m_hasFirstStamp = true;
        m_firstStamp = unit.stamp;
    }
    if (!m_frameTicksKnown) {
        if (auto format = m_assembler.Scanner().Format(); format && format->frameRate.Known()) {
            m_frameTicks = std::int64_t{90000} * format->frameRate.den / format->frameRate.num;
            m_frameTicksKnown = m_frameTicks > 0;
            if (!m_frameTicksKnown) m_frameTicks = 3600;
            m_timeline.SetFrameTicks(m_frameTicks);
        }
    }
    const bool point = unit.unit.IsRandomAccess() && unit.unit.decodable;
    // A group of pictures that cannot be placed in time (no stamp seen yet)
    // cannot begin the output either.
    const bool keep = point && unit.hasStamp && m_keepGroup(unit);
    const codec::VideoSplicer::Decision decision =
        m_splicer.Take(unit, keep, m_assembler.Scanner().ParameterSets());
    // What the group before gave out comes before anything this unit ends.
    commitReleased();
    if (decision.verdict != codec::VideoSplicer::Verdict::Write) left(decision.verdict, unit);
}

void CHdVideoTrack::commitReleased() {
    for (codec::VideoSplicer::Released& picture : m_splicer.TakeReleased()) commit(picture);
}

void CHdVideoTrack::commit(codec::VideoSplicer::Released& picture) {
    const codec::VideoSplicer::Decision& decision = picture.decision;
    const std::int64_t shown = sourceTime(picture.unit, false);
    if (decision.randomAccess && decision.spliced) {
        reportDamage();
        if (m_inCut) {
            LogPrint(label() + ", PTS: " + ClockText(shown), 1);
            LogPrint("   Cut area left out, the output goes on here", 1);
            m_inCut = false;
        }
        m_timeline.StartRun(shown);
    } else if (decision.leading) {
        m_timeline.MoveRunStart(shown);
    }
    const std::int64_t decoded = sourceTime(picture.unit, true);
    if (decoded > m_decodedTo || m_frames == 0) m_decodedTo = decoded;
    if (decision.newFrame) {
        ++m_frames;
        m_timeline.AddFrame(m_decodedTo);
    }
    std::vector<std::uint8_t>& bytes = picture.unit.bytes;
    // The first NAL unit of a byte stream has a zero_byte before its start
    // code (H.264 and HEVC annex B); later units have theirs at the end of
    // the unit before.
    if (!std::exchange(m_anyWritten, true) && bytes.size() >= 3 && bytes[0] == 0 && bytes[1] == 0 &&
        bytes[2] == 1)
        bytes.insert(bytes.begin(), 0);
    if (m_output.Count() + 2 >= m_output.RingCapacity()) m_output.GrowRing(2 * m_output.RingCapacity());
    CMpegPacket packet;
    packet.Init(m_pid, static_cast<std::uint64_t>(m_timeline.VideoEnd()), 0, 0);
    packet.SetData(std::move(bytes));
    packet.m_headerLength = 0;
    m_output.Add(std::move(packet));
}

void CHdVideoTrack::endRun() {
    m_timeline.EndRun();
}

void CHdVideoTrack::left(codec::VideoSplicer::Verdict verdict, const codec::AssembledUnit& unit) {
    using Verdict = codec::VideoSplicer::Verdict;
    const int dropped = m_splicer.TakeDroppedHeld();
    switch (verdict) {
        case Verdict::Leading:
        case Verdict::BeforeStart:
            return;
        case Verdict::Cut:
            endRun();
            m_inCut = true;
            return;
        case Verdict::CutShort:
            endRun();
            return;
        default:
            break;
    }
    // Damage: the pictures held go too, and the rest of the group.
    if (m_damagedPictures == 0)
        m_damageAt = unit.hasStamp ? m_clock.Unwrap(unit.stamp) : m_decodedTo;
    m_damagedPictures += dropped + 1;
    endRun();
}

// Pictures lost to damage are reported once the output resumes (or ends).
void CHdVideoTrack::reportDamage() {
    if (m_damagedPictures == 0) return;
    ++m_dataErrors;
    LogPrint(label() + ", PTS: " + ClockText(m_damageAt), 1);
    LogPrint("   Damaged picture: " + std::to_string(m_damagedPictures) +
                 " picture(s) left out up to the next random-access point",
             1);
    m_damagedPictures = 0;
}
