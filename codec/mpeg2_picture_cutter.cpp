#include "codec/mpeg2_picture_cutter.h"

#include <algorithm>

#include "codec/mpeg2_access_unit_scanner.h"
#include "demux/mpeg_ts_demux.h"

namespace codec {

namespace {
// The first offset where 00 00 01 starts with room for the code byte after
// it (and one more, as the stream scan demands).
int findCode(const std::uint8_t* p, int n, int code) {
    for (int i = 0; i + 4 < n; ++i) {
        if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1 && (code < 0 || p[i + 3] == code)) return i;
    }
    return -1;
}
}  // namespace

Mpeg2PictureCutter::Mpeg2PictureCutter() {
    m_picture.bytes.resize(kOutputSize);
}

void Mpeg2PictureCutter::append(const std::uint8_t* bytes, int count) {
    // The window bounds what is appended; the buffer's end is checked anyway.
    const std::size_t room = m_picture.bytes.size() - m_length;
    const std::size_t n = std::min(room, static_cast<std::size_t>(std::max(count, 0)));
    std::copy(bytes, bytes + n, m_picture.bytes.begin() + static_cast<std::ptrdiff_t>(m_length));
    m_length += n;
}

bool Mpeg2PictureCutter::Feed(const VideoPayload& video, bool audioDone) {
    const std::uint8_t* payload = video.data;
    const int n = video.length;
    const int p = findCode(payload, n, 0x00);
    const int s = findCode(payload, n, 0xB3);
    int e = findCode(payload, n, -1);
    if (e >= 0 && (payload[e + 3] < 0xE0 || payload[e + 3] > 0xEF)) e = -1;
    // A B picture (picture_coding_type 3) ends what the decoder needs.
    if (p >= 0 && p + 5 < n && ((payload[p + 5] >> 3) & 7) == 3 && m_started) m_pictureDone = true;
    if (s >= 0 && m_started) {
        m_pictureDone = true;
        if (audioDone) {
            append(payload, s);
            return false;
        }
    }
    std::int64_t pts = 0;
    if (e >= 0 && !m_started && ReadPesPts(payload + e, n - e, pts)) m_picture.stamp = pts;
    if (s >= 0) {
        if (!m_started) {
            // The first sequence header fixes the picture: its position,
            // stamp and header stay even when the search runs on for audio.
            m_picture.position = video.positionAfter;
            m_headerOffset = m_length;
            m_started = true;
        }
        append(payload + s, n - s);
    } else if (m_started) {
        append(payload, n);
    }
    return true;
}

void Mpeg2PictureCutter::Finish() {
    m_picture.bytes.resize(m_length);
    m_picture.sequenceHeader.fill(0);
    if (!m_started) return;
    const std::size_t held = std::min<std::size_t>(12, m_length - m_headerOffset);
    std::copy_n(m_picture.bytes.begin() + static_cast<std::ptrdiff_t>(m_headerOffset), held,
                m_picture.sequenceHeader.begin());
    const std::uint8_t* header = m_picture.bytes.data() + m_headerOffset;
    if (auto format = Mpeg2FormatOf(header, m_length - m_headerOffset)) m_picture.format = *format;
}

}  // namespace codec
