#include "output/ps_multiplexer.h"

#include <algorithm>

#include "output/nav_pack.h"
#include "output/output_file.h"
#include "output/pack_writer.h"
#include "shell/log.h"

namespace {
constexpr std::int64_t kWrap = 1ll << 33;
// The lower mux rate is kept while every unit due in the next 2 s could be
// delivered in time at it, with packs carrying this much payload on average.
constexpr std::int64_t kRateHorizon = 180000;
constexpr std::int64_t kPayloadPerPack = 1900;
// And while no second of the streams holds more than this share of what
// packs at that rate can carry: a decoder buffer absorbs short peaks only.
constexpr std::int64_t kRateSharePercent = 60;
constexpr std::int64_t kSecond = 90000;

// later - earlier on the 33-bit circle, in [-2^32, 2^32).
std::int64_t Diff33(std::uint64_t earlier, std::uint64_t later) {
    std::int64_t d = static_cast<std::int64_t>((later - earlier) & (kWrap - 1));
    return d >= kWrap / 2 ? d - kWrap : d;
}
}  // namespace

CPsMultiplexer::CPsMultiplexer(COutputFile& out, bool ac3MuxRate)
    : m_out(out), m_ac3Switch(ac3MuxRate) {}

CMuxStream& CPsMultiplexer::AddStream(MuxKind kind, std::uint8_t streamId,
                                      std::uint8_t subStreamId) {
    m_streams.push_back(std::make_unique<CMuxStream>(kind, streamId, subStreamId));
    if (kind == MuxKind::Video && !m_video) m_video = m_streams.back().get();
    return *m_streams.back();
}

// Stamps on one continuous clock: each is placed relative to the one seen
// before it, so the order of units across a 33-bit wrap is kept.
std::int64_t CPsMultiplexer::clockOf(std::uint64_t stamp) {
    stamp &= kWrap - 1;
    if (!m_clockSet) {
        m_clockSet = true;
        m_refRaw = stamp;
        m_refClock = 0;
    }
    m_refClock += Diff33(m_refRaw, stamp);
    m_refRaw = stamp;
    return m_refClock;
}

bool CPsMultiplexer::Queue(CMuxStream& stream, std::vector<std::uint8_t>&& bytes,
                           std::int32_t headerLength, std::uint64_t pts) {
    if (m_finished) return false;
    const std::int64_t clock = clockOf(pts);
    const auto size = static_cast<std::int64_t>(bytes.size()) - headerLength;
    if (!stream.Queue(std::move(bytes), headerLength, clock)) return false;
    if (m_ac3Switch && !m_ac3RateOff) meter(clock, size);
    return true;
}

void CPsMultiplexer::meter(std::int64_t time, std::int64_t bytes) {
    m_recent.emplace_back(time, bytes);
    m_recentBytes += bytes;
    while (!m_recent.empty() && m_recent.front().first <= time - kSecond) {
        m_recentBytes -= m_recent.front().second;
        m_recent.pop_front();
    }
    const std::int64_t packBytes = (m_recentBytes + kPayloadPerPack - 1) / kPayloadPerPack * CPackWriter::kPackSize;
    const std::int64_t capacity = std::int64_t{CPackWriter::kAc3MuxRate} * 50;
    if (packBytes * 100 > capacity * kRateSharePercent) giveUpAc3Rate();
}

void CPsMultiplexer::giveUpAc3Rate() {
    m_ac3RateOff = true;
    m_recent.clear();
    LogWrite("Program stream: the streams need more than the AC-3 mux rate; 10.08 Mbit/s from here", 2);
}

std::int64_t CPsMultiplexer::pending() const {
    std::int64_t total = 0;
    for (const auto& s : m_streams) total += s->Pending();
    return total;
}

std::int64_t CPsMultiplexer::LateUnits() const {
    std::int64_t late = 0;
    for (const auto& s : m_streams) late += s->LateUnits();
    return late;
}

// A stream with less than a packet queued may still send a unit that is due
// before what the others hold: they wait for it, within bounds.
bool CPsMultiplexer::mustWait() const {
    const std::int64_t total = pending();
    for (const auto& s : m_streams) {
        if (s->Pending() >= CPackWriter::kPesRoom) continue;
        if (total < (s->HasReceived() ? kHoldBytes : kStartHoldBytes)) return true;
    }
    return false;
}

// The clock starts so that the first unit to decode is due kStartDelay after SCR 0.
void CPsMultiplexer::start() {
    std::int64_t first = INT64_MAX;
    for (const auto& s : m_streams)
        if (s->Pending() > 0) first = std::min(first, s->NextDts());
    m_origin = first - kStartDelay;
    m_scr = m_origin;
    m_started = true;
}

// Earliest deadline first among the streams whose buffer has room for their
// next packet and whose units in it are all due within kMaxLead. The first
// VOBU begins with the video.
CPsMultiplexer::Choice CPsMultiplexer::choose() const {
    Choice choice;
    std::int64_t best = INT64_MAX;
    const bool videoFirst = m_video && m_video->Pending() > 0 && !m_videoWritten;
    for (const auto& s : m_streams) {
        if (s->Pending() == 0 || (videoFirst && s.get() != m_video)) continue;
        const sPesPlan plan = s->Plan(CPackWriter::kPesRoom);
        const std::int64_t ready = std::max(s->TimeWithRoom(plan.BufferBytes(), m_scr),
                                            plan.lastDeadline - kMaxLead);
        if (ready > m_scr) {
            choice.nextReady = std::min(choice.nextReady, ready);
        } else if (s->NextDeadline() < best) {
            best = s->NextDeadline();
            choice.stream = s.get();
        }
    }
    return choice;
}

void CPsMultiplexer::Pump(bool final) {
    if (m_finished) return;
    while (pending() > 0) {
        if (!final && mustWait()) return;
        if (!m_started) start();
        const Choice choice = choose();
        if (!choice.stream) {
            if (choice.nextReady == INT64_MAX) return;
            m_scr = choice.nextReady;  // no buffer has room yet: the clock jumps ahead
            continue;
        }
        if (!writePack(*choice.stream, final)) return;  // the file is closed
    }
    if (final) finish();
}

// The mux rate of the next pack: 10.08 Mbit/s; in a program stream of AC-3
// the lower AC-3 rate from its first AC-3 pack on, until the streams no
// longer fit into it.
std::uint32_t CPsMultiplexer::muxRate(const CMuxStream& stream) {
    if (!m_ac3Switch || m_ac3RateOff) return CPackWriter::kMuxRate;
    if (stream.Kind() == MuxKind::Ac3) m_ac3RateOn = true;
    if (!m_ac3RateOn) return CPackWriter::kMuxRate;
    if (!holdsAt(CPackWriter::kAc3MuxRate)) {
        giveUpAc3Rate();
        return CPackWriter::kMuxRate;
    }
    m_ac3RateUsed = true;
    return CPackWriter::kAc3MuxRate;
}

// Whether every unit due within kRateHorizon could still be delivered in time
// at rate: packs of kPayloadPerPack bytes, in the order of their deadlines.
bool CPsMultiplexer::holdsAt(std::uint32_t rate) const {
    std::vector<std::pair<std::int64_t, std::int64_t>> due;
    for (const auto& s : m_streams) s->DueBy(m_scr + kRateHorizon, due);
    std::sort(due.begin(), due.end());
    const std::int64_t tick = CPackWriter::PackTicks(rate);
    std::int64_t bytes = 0;
    for (const auto& [deadline, left] : due) {
        bytes += left;
        const std::int64_t packs = (bytes + kPayloadPerPack - 1) / kPayloadPerPack + 1;
        if (m_scr + packs * tick > deadline - CMuxStream::kMargin) return false;
    }
    return true;
}

bool CPsMultiplexer::writeNavPack(std::uint32_t rate) {
    CNavPack::sInfo info;
    info.scr = static_cast<std::uint64_t>(m_scr - m_origin) & CPackWriter::kClockMask;
    info.muxRate = rate;
    info.sector = static_cast<std::uint32_t>(m_packs);
    std::int64_t start = 0, end = 0;
    if (m_video && m_video->NextUnitDisplay(start, end)) {
        info.startPtm = static_cast<std::uint64_t>(start - m_origin) & CPackWriter::kClockMask;
        info.endPtm = static_cast<std::uint64_t>(end - m_origin) & CPackWriter::kClockMask;
    }
    for (const auto& s : m_streams)
        (s->Kind() == MuxKind::Video ? info.videoStreams : info.audioStreams) += 1;
    if (!CNavPack::Write(m_out, info)) return false;
    ++m_packs;
    ++m_navPacks;
    m_scr += CPackWriter::PackTicks(rate);
    return true;
}

// One pack of stream, after the navigation pack when it begins a VOBU. The
// last pack of the stream also holds the program end code.
bool CPsMultiplexer::writePack(CMuxStream& stream, bool final) {
    const std::uint32_t rate = muxRate(stream);
    const bool vobu = m_packs == 0 || (&stream == m_video && stream.AtUnitStart());
    if (vobu && !writeNavPack(rate)) return false;
    sPesPlan plan;
    bool endCode = false;
    if (final && pending() == stream.Pending()) {
        plan = stream.Plan(CPackWriter::kPesRoom - CPackWriter::kEndCodeSize);
        endCode = plan.payload == stream.Pending();
    } else {
        plan = stream.Plan(CPackWriter::kPesRoom);
    }
    const std::uint64_t scr = static_cast<std::uint64_t>(m_scr - m_origin) & CPackWriter::kClockMask;
    std::uint8_t* pes = CPackWriter::LayOutPack(m_out, scr, rate, plan.Size(), endCode);
    if (!pes) return false;
    const std::int64_t arrived = m_scr + CPackWriter::PackTicks(rate);
    stream.Write(plan, m_origin, m_scr, arrived, pes);
    if (&stream == m_video) m_videoWritten = true;
    m_lastRate = rate;
    m_scr = arrived;
    ++m_packs;
    if (endCode) m_endWritten = true;
    return true;
}

// The end of the stream: a pack of padding with the program end code, unless
// the last pack already holds it; nothing for a stream without packs.
void CPsMultiplexer::finish() {
    if (m_finished) return;
    m_finished = true;
    if (m_packs > 0 && !m_endWritten) {
        const std::uint64_t scr = static_cast<std::uint64_t>(m_scr - m_origin) & CPackWriter::kClockMask;
        if (CPackWriter::LayOutPack(m_out, scr, m_lastRate, 0, true)) ++m_packs;
    }
    const std::int64_t late = LateUnits();
    if (late > 0)
        LogPrint("Warning: " + std::to_string(late) +
                     " picture(s) or audio frame(s) reach the decoder after their time: the streams "
                     "carry more than the mux rate",
                 1);
}
