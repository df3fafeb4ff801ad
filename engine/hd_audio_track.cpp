#include "engine/hd_audio_track.h"

#include <cstring>
#include <utility>

#include "codec/silent_adts_frame.h"
#include "demux/audio_frame.h"
#include "demux/export_timeline.h"
#include "demux/pes_fields.h"
#include "demux/silent_ac3_frame.h"
#include "output/mpeg_channel.h"
#include "shell/log.h"
#include "shell/text.h"

namespace {

// Frames waiting for the video are kept for this long of source time at the
// most: video that lags further (or never comes) does not hold the sound.
constexpr std::int64_t kMaxWait = 120 * 90000;
// LOAS frames kept until the stream's configuration comes (a few seconds).
constexpr std::size_t kMaxUnconfigured = 256;
// E-AC-3 gaps are filled with silent AC-3 frames of this size code (448 kbit/s).
constexpr int kSilentAc3SizeCode = 30;

}  // namespace

CHdAudioTrack::CHdAudioTrack(const sPMTEntry& stream, CMpegChannel& output,
                             const CExportTimeline& timeline, StampReference& reference)
    : m_codec(EntryCodec(stream)),
      m_pid(static_cast<std::uint16_t>(stream.pid)),
      m_output(output),
      m_timeline(timeline),
      m_clock(reference),
      m_splitter(EntryCodec(stream)) {}

std::string CHdAudioTrack::label() const {
    return std::string(CodecDisplayName(m_codec)) + " PID " + Hex16(m_pid);
}

void CHdAudioTrack::Feed(const std::uint8_t* payload, int length, bool unitStart, bool lost) {
    if (lost) Lose();
    if (unitStart && length >= 4 && payload[0] == 0 && payload[1] == 0 && payload[2] == 1) {
        const int header = pes::HeaderLength(payload, length);
        if (header == 0) {
            Lose();  // a damaged header: its frames cannot be timed
            return;
        }
        const bool hasPts = pes::HasPts(payload, header);
        m_splitter.StartPes(hasPts, hasPts ? pes::ReadStamp(payload + 9) : 0);
        payload += header;
        length -= header;
    }
    if (length > 0) m_splitter.Feed(payload, static_cast<std::size_t>(length));
    takeFrames();
}

void CHdAudioTrack::Lose() {
    m_splitter.Lose();
    takeFrames();
}

void CHdAudioTrack::Finish() {
    m_splitter.Finish();
    takeFrames();
}

// The frames the splitter has cut go to the queue with their source times.
void CHdAudioTrack::takeFrames() {
    if (m_splitter.InvalidFrames() > m_invalidSeen) {
        m_dataErrors += m_splitter.InvalidFrames() - m_invalidSeen;
        m_invalidSeen = m_splitter.InvalidFrames();
        LogPrint("Found invalid audio frame: " + label(), 1);
    }
    for (codec::AudioFrameSplitter::Frame& frame : m_splitter.TakeFrames()) {
        if (m_codec == StreamCodec::AacLatm)
            convertLatm(frame);
        else
            queue(std::move(frame.bytes), frame.info.samples, frame.info.sampleRate, frame.afterLoss,
                  frame.hasPts, frame.pts);
    }
    Place();
}

void CHdAudioTrack::convertLatm(codec::AudioFrameSplitter::Frame& frame) {
    std::vector<codec::LatmToAdts::Frame> adts;
    std::string why;
    if (!m_latm.Convert(frame.bytes.data(), static_cast<int>(frame.bytes.size()), adts, &why)) {
        if (!m_latm.Configured() && m_unconfigured.size() < kMaxUnconfigured) {
            m_unconfigured.push_back(std::move(frame));
            return;
        }
        if (why != m_latmFault) LogPrint(label() + ": LATM frame not taken: " + why, 1);
        m_latmFault = why;
        ++m_dataErrors;
        return;
    }
    // The frames that came before the first configuration now have one.
    std::vector<codec::AudioFrameSplitter::Frame> before = std::exchange(m_unconfigured, {});
    for (codec::AudioFrameSplitter::Frame& early : before) convertLatm(early);
    bool first = true;
    for (codec::LatmToAdts::Frame& f : adts) {
        queue(std::move(f.bytes), f.samples, f.sampleRate, frame.afterLoss && first,
              frame.hasPts && first, frame.pts);
        first = false;
    }
}

// Ticks of samples at a rate, the part of a tick left over carried on, so
// that a 44.1 kHz time line keeps its pace.
std::int64_t CHdAudioTrack::advance(int samples, int sampleRate, std::int64_t& remainder) const {
    if (sampleRate <= 0) return 0;
    const std::int64_t exact = std::int64_t{samples} * 90000 + remainder;
    remainder = exact % sampleRate;
    return exact / sampleRate;
}

void CHdAudioTrack::queue(std::vector<std::uint8_t>&& bytes, int samples, int sampleRate,
                          bool afterLoss, bool hasPts, std::uint64_t pts) {
    if (hasPts) {
        m_timed = true;
        m_next = m_clock.Unwrap(pts);
        m_nextRemainder = 0;
    }
    // Without any stamp yet the frame cannot be placed.
    if (!m_timed) return;
    Waiting frame;
    frame.bytes = std::move(bytes);
    frame.start = m_next;
    frame.samples = samples;
    frame.sampleRate = sampleRate;
    frame.afterLoss = afterLoss;
    std::int64_t remainder = m_nextRemainder;
    frame.ticks = advance(samples, sampleRate, remainder);
    m_next += frame.ticks;
    m_nextRemainder = remainder;
    if (frame.ticks <= 0 && !m_waiting.empty()) {
        // A part of the frame before (an E-AC-3 dependent substream): it goes with it.
        Waiting& last = m_waiting.back();
        last.bytes.insert(last.bytes.end(), frame.bytes.begin(), frame.bytes.end());
        return;
    }
    if (frame.ticks <= 0) return;
    m_waiting.push_back(std::move(frame));
    // Video that does not come does not hold the sound for ever.
    while (m_waiting.size() > 1 && m_waiting.back().start - m_waiting.front().start > kMaxWait)
        m_waiting.pop_front();
}

void CHdAudioTrack::Place() {
    while (!m_waiting.empty()) {
        const Waiting& frame = m_waiting.front();
        std::int64_t missing = 0;
        const CExportTimeline::Verdict verdict = m_timeline.Place(
            frame.start, frame.ticks, m_written + m_unfilled, m_cursor, missing);
        if (verdict == CExportTimeline::Verdict::Wait) return;
        if (verdict == CExportTimeline::Verdict::Keep) {
            if (missing > 0) makeGood(frame, missing);
            write(frame);
        }
        m_waiting.pop_front();
    }
}

void CHdAudioTrack::write(const Waiting& frame) {
    if (m_output.Count() + 2 >= m_output.RingCapacity()) m_output.GrowRing(2 * m_output.RingCapacity());
    CMpegPacket packet;
    packet.Init(m_pid, static_cast<std::uint64_t>(m_written), 0, 0);
    packet.SetData(frame.bytes.data(), static_cast<std::int32_t>(frame.bytes.size()));
    packet.m_headerLength = 0;
    m_output.Add(std::move(packet));
    m_written += advance(frame.samples, frame.sampleRate, m_writtenRemainder);
    m_anyWritten = true;
}

// Sound is missing before the frame: silent frames like it, as many as come
// nearest to the gap; a report where none can be made. Sound that starts
// after the first picture is no damage.
void CHdAudioTrack::makeGood(const Waiting& frame, std::int64_t missing) {
    const bool atStart = !m_anyWritten;
    const std::string ms = std::to_string(missing / 90) + "ms";
    const Waiting quiet = silenceLike(frame);
    LogPrint(label() + ", PTS: " + ClockText(frame.start), 1);
    LogPrint(atStart ? "   Starts " + ms + " after the first picture"
                     : "   Missing sound frame(s) detected " + ms + "!",
             1);
    if (quiet.bytes.empty() || quiet.ticks <= 0) {
        m_unfilled += missing;
        ++m_dataErrors;
        LogPrint("   No silence can be made for this track: the sound after the gap plays that "
                 "much early",
                 1);
        return;
    }
    const std::int64_t frames = (missing + quiet.ticks / 2) / quiet.ticks;
    for (std::int64_t i = 0; i < frames; ++i) write(quiet);
    if (!atStart) ++m_dataErrors;
    LogPrint("   Padding with 'silence'", 1);
}

// A frame of silence like the frame. MPEG audio keeps its header (without
// CRC protection) with everything after it zero, which a Layer II decoder
// plays as silence; AC-3 and E-AC-3 get a silent AC-3 frame of the track's
// own rate and layout, AAC a silent frame of its channel configuration.
CHdAudioTrack::Waiting CHdAudioTrack::silenceLike(const Waiting& frame) const {
    const std::vector<std::uint8_t>& f = frame.bytes;
    const int n = static_cast<int>(f.size());
    Waiting quiet;
    quiet.samples = frame.samples;
    quiet.sampleRate = frame.sampleRate;
    switch (m_codec) {
        case StreamCodec::MpegAudio:
            if (n < 4) return {};
            quiet.bytes.assign(f.size(), 0);
            std::memcpy(quiet.bytes.data(), f.data(), 4);
            quiet.bytes[1] |= 0x01;  // protection_bit: no CRC
            break;
        case StreamCodec::Ac3:
        case StreamCodec::Eac3: {
            AudioFrame ac3;
            int fscod = 0, acmod = 0, lfeon = 0, code = kSilentAc3SizeCode;
            if (AudioFrame::ParseAc3(f.data(), n, ac3) && ac3.bsid <= 10) {
                fscod = ac3.fscod, acmod = ac3.acmod, lfeon = ac3.lfeon, code = ac3.frmsizecod;
            } else if (n >= 6 && (f[4] >> 6) != 3) {
                // E-AC-3: fscod, numblkscod, acmod, lfeon (A/52 E.1.2.2).
                fscod = f[4] >> 6, acmod = (f[4] >> 1) & 7, lfeon = f[4] & 1;
            } else {
                return {};
            }
            quiet.bytes = SilentAc3Frame(fscod, code, acmod, lfeon);
            codec::AudioFrameInfo info;
            if (!codec::ReadAudioFrame(StreamCodec::Ac3, quiet.bytes.data(),
                                       static_cast<int>(quiet.bytes.size()), info))
                return {};
            quiet.samples = info.samples;
            quiet.sampleRate = info.sampleRate;
            break;
        }
        case StreamCodec::Aac:
        case StreamCodec::AacLatm:
            quiet.bytes = codec::SilentAdtsFrame(f.data(), n);
            // One raw data block of the frame's blocks.
            if (n >= 7) quiet.samples = frame.samples / ((f[6] & 3) + 1);
            break;
        default:
            return {};
    }
    std::int64_t remainder = 0;
    quiet.ticks = advance(quiet.samples, quiet.sampleRate, remainder);
    return quiet;
}
