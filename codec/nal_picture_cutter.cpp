#include "codec/nal_picture_cutter.h"

#include <algorithm>

#include "demux/mpeg_ts_demux.h"

namespace codec {

namespace {
bool isVideoPesHeader(const std::uint8_t* p, int n) {
    return n >= 9 && p[0] == 0 && p[1] == 0 && p[2] == 1 && p[3] >= 0xE0 && p[3] <= 0xEF;
}
}  // namespace

NalPictureCutter::NalPictureCutter(std::unique_ptr<IAccessUnitScanner> scanner,
                                   std::size_t capacity)
    : m_scanner(std::move(scanner)), m_capacity(capacity) {}

bool NalPictureCutter::Feed(const VideoPayload& video, bool audioDone) {
    if (m_done) return !audioDone;
    // A packet whose scrambling bits are set in a clear stream is a packet
    // with bit errors in its header: its payload is kept, as decoders do.
    if (video.length <= 0 || video.adaptationControl == 0) return true;
    const std::uint8_t* data = video.data;
    int n = video.length;
    // NAL unit headers never begin with E0..EF (forbidden_zero_bit), so
    // 00 00 01 Ex at a payload's start is a PES header.
    if (isVideoPesHeader(data, n)) {
        std::int64_t pts = 0;
        if (ReadPesPts(data, n, pts)) m_stamp = pts;
        const int header = 9 + data[8];
        if (header >= n) return true;
        data += header;
        n -= header;
    }
    if (!m_started)
        m_marks.push_back(
            {m_fed, m_fed + static_cast<std::uint64_t>(n), video.positionAfter, m_stamp});
    m_fed += static_cast<std::uint64_t>(n);
    if (m_started) {
        const std::size_t room = m_capacity - std::min(m_capacity, m_picture.bytes.size());
        m_picture.bytes.insert(m_picture.bytes.end(), data,
                               data + std::min<std::size_t>(room, static_cast<std::size_t>(n)));
    } else {
        m_pending.insert(m_pending.end(), data, data + n);
        // A unit larger than any picture the cut-out can hold is no use.
        if (m_pending.size() > m_capacity) dropBefore(m_fed - 4);
    }
    m_scanner->Feed(data, static_cast<std::size_t>(n));
    takeUnits();
    return !(m_done && audioDone);
}

void NalPictureCutter::takeUnits() {
    for (const AccessUnit& unit : m_scanner->TakeUnits()) {
        if (m_done) return;
        if (!m_started) {
            if (unit.IsRandomAccess() && unit.decodable && unit.offset >= m_pendingBase &&
                markOf(unit.offset) != nullptr)
                start(unit);
            else
                dropBefore(unit.offset);
            continue;
        }
        // The second field of the point's frame belongs to its picture.
        if (m_secondFieldWanted && unit.field && unit.bottomField != m_point.bottomField &&
            unit.frameNum == m_point.frameNum) {
            m_secondFieldWanted = false;
            continue;
        }
        endAt(unit.offset);
    }
}

void NalPictureCutter::start(const AccessUnit& unit) {
    const PacketMark* mark = markOf(unit.offset);
    m_started = true;
    m_point = unit;
    m_secondFieldWanted = unit.field;
    m_picture.stamp = mark->stamp;
    m_picture.position = mark->positionAfter;
    if (auto format = m_scanner->Format()) m_picture.format = *format;
    m_picture.sequenceHeader = SequenceHeaderBytes(m_picture.format);
    // Parameter sets that came before the point are carried to the decoder.
    m_picture.bytes = m_scanner->ParameterSets();
    m_setsSize = m_picture.bytes.size();
    const auto from = static_cast<std::size_t>(unit.offset - m_pendingBase);
    const std::size_t room = m_capacity - std::min(m_capacity, m_setsSize);
    const std::size_t count = std::min(room, m_pending.size() - from);
    m_picture.bytes.insert(m_picture.bytes.end(),
                           m_pending.begin() + static_cast<std::ptrdiff_t>(from),
                           m_pending.begin() + static_cast<std::ptrdiff_t>(from + count));
    m_pending = {};
    m_marks.clear();
}

void NalPictureCutter::endAt(std::uint64_t offset) {
    const std::uint64_t unitBytes = offset - m_point.offset;
    m_picture.bytes.resize(std::min<std::size_t>(m_picture.bytes.size(),
                                                 m_setsSize + static_cast<std::size_t>(unitBytes)));
    m_done = true;
}

void NalPictureCutter::dropBefore(std::uint64_t offset) {
    if (offset <= m_pendingBase) return;
    const auto count =
        static_cast<std::size_t>(std::min<std::uint64_t>(offset - m_pendingBase, m_pending.size()));
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(count));
    m_pendingBase += count;
    // The mark of the packet that holds offset stays.
    while (!m_marks.empty() && m_marks.front().end <= m_pendingBase)
        m_marks.pop_front();
}

const NalPictureCutter::PacketMark* NalPictureCutter::markOf(std::uint64_t offset) const {
    for (const PacketMark& mark : m_marks)
        if (offset >= mark.begin && offset < mark.end) return &mark;
    return nullptr;
}

void NalPictureCutter::Finish() {
    if (m_started && !m_done) {
        // The window or the recording ended inside the picture: what came is
        // what there is.
        m_scanner->Finish();
        takeUnits();
        m_done = true;
    }
    if (!m_started) m_picture.bytes.clear();
}

}  // namespace codec
