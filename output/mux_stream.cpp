#include "output/mux_stream.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "output/pack_writer.h"
#include "output/picture_scan.h"

namespace {

constexpr std::int64_t kClockMask = (1ll << 33) - 1;
constexpr std::int64_t kMaxDtsLead = 90000;  // a DTS more than 1 s before its PTS is bogus
// Audio frames whose PTS lies this close to the previous frame's end follow
// it without a gap: a decoder may infer their time from the frame before.
constexpr std::int64_t kContinuity = 2;
// P-STD buffer fields of the PES extension ('01', scale, size): video
// 232 x 1024 bytes, audio 32 x 128 bytes.
constexpr std::uint16_t kVideoBufferField = 0x4000 | 0x2000 | 232;
constexpr std::uint16_t kAudioBufferField = 0x4000 | 32;
constexpr std::uint8_t kExtensionFlags = 0x1E;  // P-STD buffer field present, reserved bits set

// Samples per frame over the sampling rate, in 90 kHz ticks; 0 when the bytes
// do not begin with a frame header this can read.
double AudioFrameTicks(const std::uint8_t* p, std::size_t n, bool ac3) {
    if (ac3) {
        static constexpr int kRates[3] = {48000, 44100, 32000};
        if (n < 5 || p[0] != 0x0B || p[1] != 0x77 || (p[4] >> 6) > 2) return 0;
        return 1536.0 * 90000 / kRates[p[4] >> 6];
    }
    if (n < 4 || p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return 0;
    const int version = (p[1] >> 3) & 3;  // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    const int layer = (p[1] >> 1) & 3;    // 3 Layer I, 2 Layer II, 1 Layer III
    const int rateIndex = (p[2] >> 2) & 3;
    if (version == 1 || layer == 0 || rateIndex == 3) return 0;
    static constexpr int kRates[3] = {44100, 48000, 32000};
    const int rate = kRates[rateIndex] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
    const int samples = layer == 3 ? 384 : (layer == 1 && version != 3) ? 576 : 1152;
    return static_cast<double>(samples) * 90000 / rate;
}

}  // namespace

CMuxStream::CMuxStream(MuxKind kind, std::uint8_t streamId, std::uint8_t subStreamId)
    : m_kind(kind),
      m_streamId(streamId),
      m_subStreamId(subStreamId),
      m_bufferSize(kind == MuxKind::Video ? kVideoBuffer : kAudioBuffer) {}

bool CMuxStream::Queue(std::vector<std::uint8_t>&& bytes, std::int32_t headerLength,
                       std::int64_t pts) {
    const auto size = static_cast<std::int64_t>(bytes.size());
    if (headerLength < 9 || headerLength >= size || bytes[0] != 0 || bytes[1] != 0 || bytes[2] != 1)
        return false;
    Unit unit;
    unit.flags = static_cast<std::uint8_t>(bytes[6] & 0x03);
    unit.pos = headerLength;
    unit.bytes = std::move(bytes);
    if (m_kind == MuxKind::Video)
        queueVideo(unit, pts);
    else
        queueAudio(unit, pts);
    m_pending += size - headerLength;
    m_received = true;
    m_queue.push_back(std::move(unit));
    return true;
}

// A video unit: one access unit per picture. The first carries the unit's
// PTS and a DTS: the source's, moved with the PTS, or else the one that its
// temporal references give (an anchor picture is decoded before the B
// pictures shown ahead of it). The pictures after it are not stamped; their
// DTS follow in frame periods (field pictures half a period), as a decoder
// infers them.
void CMuxStream::queueVideo(Unit& unit, std::int64_t pts) {
    const std::uint8_t* d = unit.bytes.data();
    const std::uint8_t* es = d + unit.pos;
    const std::size_t n = unit.bytes.size() - static_cast<std::size_t>(unit.pos);
    CPictureScan::FramePeriod(es, n, m_periodNum, m_periodDen);
    const std::vector<sPictureInfo> pictures = CPictureScan::Pictures(es, n);

    int frames = 0;
    int minDiff = INT_MAX;
    bool firstField = false;
    for (const sPictureInfo& p : pictures) {
        if (p.field && firstField) {  // the second field of a frame
            firstField = false;
            continue;
        }
        firstField = p.field;
        minDiff = std::min(minDiff, p.tref - frames);
        ++frames;
    }
    std::int64_t lead = -1;
    if ((d[7] & 0xC0) == 0xC0 && unit.pos >= 19) {
        const auto source = static_cast<std::int64_t>(
            (CPackWriter::ReadStamp(d + 9) - CPackWriter::ReadStamp(d + 14)) & kClockMask);
        if (source <= kMaxDtsLead) lead = source;
    }
    if (lead < 0) {
        const std::int64_t leadFrames = std::max(0, pictures.front().tref - minDiff);
        lead = std::min(kMaxDtsLead, leadFrames * m_periodNum / m_periodDen);
    }
    unit.displayStart = pts - pictures.front().tref * m_periodNum / m_periodDen;
    unit.displayEnd = unit.displayStart + frames * m_periodNum / m_periodDen;

    const std::int64_t dts0 = pts - lead;
    std::int64_t halfFrames = 0;
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        const std::int32_t end =
            i + 1 < pictures.size() ? pictures[i + 1].offset : static_cast<std::int32_t>(n);
        sMuxAccessUnit au;
        au.size = end - pictures[i].offset;
        au.dts = dts0 + halfFrames * m_periodNum / (2 * m_periodDen);
        au.pts = i == 0 ? pts : au.dts;
        au.stamped = i == 0;
        au.continuous = true;
        halfFrames += pictures[i].field ? 1 : 2;
        addUnit(au);
    }
}

// An audio unit is one frame: one access unit, decoded at its PTS.
void CMuxStream::queueAudio(Unit& unit, std::int64_t pts) {
    const std::size_t n = unit.bytes.size() - static_cast<std::size_t>(unit.pos);
    const double ticks = AudioFrameTicks(unit.bytes.data() + unit.pos, n, m_kind == MuxKind::Ac3);
    sMuxAccessUnit au;
    au.size = static_cast<std::int32_t>(n);
    au.dts = au.pts = pts;
    au.stamped = true;
    au.continuous = m_audioEnd != INT64_MIN && std::llabs(pts - m_audioEnd) <= kContinuity;
    // A frame of unknown length: the next one gets a time stamp of its own.
    m_audioEnd = ticks > 0 ? pts + std::llround(ticks) : INT64_MIN;
    addUnit(au);
}

void CMuxStream::addUnit(sMuxAccessUnit au) {
    au.left = au.size;
    au.deadline = std::max(au.dts, m_lastDeadline);
    m_lastDeadline = au.deadline;
    if (au.size > 0) m_aus.push_back(au);
}

bool CMuxStream::AtUnitStart() const {
    if (m_kind != MuxKind::Video || m_queue.empty()) return false;
    const sMuxAccessUnit& au = m_aus.front();
    return au.stamped && au.left == au.size;
}

std::int64_t CMuxStream::NextDeadline() const {
    return m_aus.empty() ? INT64_MAX : m_aus.front().deadline;
}

std::int64_t CMuxStream::NextDts() const {
    return m_aus.empty() ? INT64_MAX : m_aus.front().dts;
}

bool CMuxStream::NextUnitDisplay(std::int64_t& start, std::int64_t& end) const {
    if (!AtUnitStart()) return false;
    start = m_queue.front().displayStart;
    end = m_queue.front().displayEnd;
    return true;
}

void CMuxStream::DueBy(std::int64_t horizon,
                       std::vector<std::pair<std::int64_t, std::int64_t>>& out) const {
    constexpr std::int64_t kNavPackBytes = 2048;
    for (const sMuxAccessUnit& au : m_aus) {
        if (au.deadline > horizon) break;
        const bool gop = m_kind == MuxKind::Video && au.stamped && au.left == au.size;
        out.emplace_back(au.deadline, au.left + (gop ? kNavPackBytes : 0));
    }
}

std::int32_t CMuxStream::headerBytes(bool stamped, const sMuxAccessUnit* au) const {
    const bool extension = m_firstPes || m_kind == MuxKind::Ac3;
    int n = 9 + (extension ? 3 : 0);
    if (stamped) n += au->dts != au->pts ? 10 : 5;
    return n;
}

sPesPlan CMuxStream::Plan(std::int32_t room) const {
    sPesPlan plan;
    if (m_pending == 0 || m_aus.empty()) return plan;
    plan.subHeader = m_kind == MuxKind::Ac3 ? 4 : 0;
    // Video packets never run into the next unit: each GOP begins a pack of
    // its own, right after its navigation pack.
    const Unit& front = m_queue.front();
    const std::int64_t avail =
        m_kind == MuxKind::Video ? static_cast<std::int64_t>(front.bytes.size()) - front.pos : m_pending;

    // A packet begins either with an access unit, and then carries its time
    // stamps, or with the rest of one that began in the packet before.
    const sMuxAccessUnit& current = m_aus.front();
    const bool begins = current.left == current.size;
    const bool stamped = begins && current.stamped;
    const std::int64_t capacity = room - headerBytes(stamped, &current) - plan.subHeader;
    std::int64_t payload = std::min(avail, capacity);
    if (m_kind != MuxKind::Video) {
        // Audio packets hold whole frames, as many as fit and as follow on
        // from each other in time; only a frame larger than a packet is
        // split, and its rest fills packets of its own. (A packet whose PTS
        // belongs to a frame beginning in it, but which begins inside the
        // frame before, has decoders give that PTS to the wrong frame.)
        std::int64_t whole = current.left;
        for (std::size_t i = 1; begins && i < m_aus.size() && m_aus[i].continuous &&
                                whole + m_aus[i].size <= capacity;
             ++i)
            whole += m_aus[i].size;
        payload = std::min(whole, capacity);
    }
    plan.payload = static_cast<std::int32_t>(payload);
    plan.header = headerBytes(stamped, &current);
    plan.stamped = stamped;
    plan.lastDeadline = current.deadline;
    std::int64_t at = begins ? 0 : current.left;
    for (std::size_t i = begins ? 0 : 1; i < m_aus.size() && at < payload; ++i) {
        if (plan.firstAt < 0) plan.firstAt = static_cast<std::int32_t>(at);
        ++plan.frames;
        plan.lastDeadline = m_aus[i].deadline;
        at += m_aus[i].size;
    }
    return plan;
}

std::int32_t CMuxStream::writeHeader(const sPesPlan& plan, std::int64_t origin,
                                     std::uint8_t* out) const {
    const bool ac3 = m_kind == MuxKind::Ac3;
    const bool extension = m_firstPes || ac3;
    const std::int32_t length = plan.Size() - 6;
    out[0] = 0;
    out[1] = 0;
    out[2] = 1;
    out[3] = m_streamId;
    out[4] = static_cast<std::uint8_t>(length >> 8);
    out[5] = static_cast<std::uint8_t>(length);
    out[6] = static_cast<std::uint8_t>(0x80 | (ac3 ? 0 : m_queue.front().flags));
    std::uint8_t flags = 0;
    int n = 9;
    if (plan.stamped) {
        const sMuxAccessUnit& au = m_aus.front();
        const std::uint64_t pts = static_cast<std::uint64_t>(au.pts - origin) & kClockMask;
        if (au.dts != au.pts) {
            flags = 0xC0;
            CPackWriter::WriteStamp(pts, 3, out + n);
            CPackWriter::WriteStamp(static_cast<std::uint64_t>(au.dts - origin) & kClockMask, 1,
                                    out + n + 5);
            n += 10;
        } else {
            flags = 0x80;
            CPackWriter::WriteStamp(pts, 2, out + n);
            n += 5;
        }
    }
    if (extension) {
        flags |= 0x01;
        const std::uint16_t field = m_kind == MuxKind::Video ? kVideoBufferField : kAudioBufferField;
        out[n] = kExtensionFlags;
        out[n + 1] = static_cast<std::uint8_t>(field >> 8);
        out[n + 2] = static_cast<std::uint8_t>(field);
        n += 3;
    }
    out[7] = flags;
    out[8] = static_cast<std::uint8_t>(n - 9);
    return n;
}

void CMuxStream::Write(const sPesPlan& plan, std::int64_t origin, std::int64_t scr,
                       std::int64_t arrived, std::uint8_t* out) {
    out += writeHeader(plan, origin, out);
    if (m_kind == MuxKind::Ac3) {
        // Sub-stream id, number of frames that begin here, and where the
        // first of them begins, counted from the last byte of this field.
        const int pointer = plan.firstAt < 0 ? 0 : plan.firstAt + 1;
        out[0] = m_subStreamId;
        out[1] = static_cast<std::uint8_t>(plan.frames);
        out[2] = static_cast<std::uint8_t>(pointer >> 8);
        out[3] = static_cast<std::uint8_t>(pointer);
        out += 4;
    }
    copyPayload(plan.payload, out);
    decode(scr);
    account(plan.BufferBytes(), plan.payload, arrived);
    m_firstPes = false;
}

void CMuxStream::copyPayload(std::int32_t n, std::uint8_t* out) {
    m_pending -= n;
    while (n > 0) {
        Unit& unit = m_queue.front();
        const auto take = std::min<std::int32_t>(n, static_cast<std::int32_t>(unit.bytes.size()) - unit.pos);
        std::memcpy(out, unit.bytes.data() + unit.pos, static_cast<std::size_t>(take));
        out += take;
        unit.pos += take;
        n -= take;
        if (unit.pos == static_cast<std::int32_t>(unit.bytes.size())) m_queue.pop_front();
    }
}

// The delivered bytes enter the buffer at scr; each access unit leaves it at
// its deadline. The sub-stream header counts with the unit it leads into.
void CMuxStream::account(std::int32_t bufferBytes, std::int32_t payload, std::int64_t arrived) {
    std::int32_t extra = bufferBytes - payload;
    while (payload > 0 && !m_aus.empty()) {
        sMuxAccessUnit& au = m_aus.front();
        const std::int32_t take = std::min(au.left, payload);
        const std::int32_t bytes = take + extra;
        extra = 0;
        const std::int64_t removal = au.deadline + kMargin;
        if (!m_buffer.empty() && m_buffer.back().removal == removal)
            m_buffer.back().bytes += bytes;
        else
            m_buffer.push_back({removal, bytes});
        m_fill += bytes;
        au.left -= take;
        payload -= take;
        if (au.left == 0) {
            if (arrived > au.deadline - kMargin) ++m_late;
            m_aus.pop_front();
        }
    }
}

void CMuxStream::decode(std::int64_t now) {
    while (!m_buffer.empty() && m_buffer.front().removal <= now) {
        m_fill -= m_buffer.front().bytes;
        m_buffer.pop_front();
    }
}

std::int64_t CMuxStream::TimeWithRoom(std::int32_t need, std::int64_t now) const {
    std::int64_t fill = m_fill;
    if (fill + need <= m_bufferSize) return now;
    for (const Delivered& d : m_buffer) {
        fill -= d.bytes;
        if (fill + need <= m_bufferSize) return std::max(now, d.removal);
    }
    return now;  // an empty buffer takes any packet
}
