#include "codec/audio_frame_splitter.h"

#include <algorithm>
#include <utility>

namespace codec {

namespace {
// The bytes cut are removed from the buffer in blocks, not frame by frame.
constexpr std::size_t kCompactAt = 1 << 16;
}  // namespace

AudioFrameSplitter::AudioFrameSplitter(StreamCodec codec)
    : m_codec(codec), m_headerBytes(std::max(AudioHeaderBytes(codec), 2)) {}

void AudioFrameSplitter::StartPes(bool hasPts, std::uint64_t pts) {
    m_awaitPes = false;
    if (!hasPts) return;
    const std::uint64_t offset = m_base + m_data.size();
    // A PES without a frame start holds no frame its stamp could belong to:
    // the newer stamp replaces it.
    if (!m_marks.empty() && m_marks.back().offset == offset)
        m_marks.back().pts = pts;
    else
        m_marks.push_back({offset, pts});
}

void AudioFrameSplitter::Feed(const std::uint8_t* data, std::size_t size) {
    if (size == 0 || m_awaitPes) return;
    m_data.insert(m_data.end(), data, data + size);
    split(false);
}

void AudioFrameSplitter::Lose() {
    // A frame held whole up to the loss is kept; the frame under way cannot
    // be completed and is given up, and with it the stamps of PES packets
    // whose first frames are gone.
    if (m_inSync) takeFrame(true);
    dropFront(m_data.size() - m_front);
    m_marks.clear();
    m_inSync = false;
    m_lossPending = true;
    m_awaitPes = true;
}

void AudioFrameSplitter::Finish() {
    split(true);
}

std::vector<AudioFrameSplitter::Frame> AudioFrameSplitter::TakeFrames() {
    return std::exchange(m_frames, {});
}

void AudioFrameSplitter::split(bool ending) {
    for (;;) {
        if (!m_inSync && !findSync(ending)) break;
        if (!takeFrame(ending)) break;
    }
    if (m_front >= kCompactAt || m_front == m_data.size()) {
        m_data.erase(m_data.begin(), m_data.begin() + static_cast<std::ptrdiff_t>(m_front));
        m_base += m_front;
        m_front = 0;
    }
}

// Passes over bytes up to a frame start whose header reads and whose
// successor's sync word follows it (or cannot be seen yet). False when more
// bytes are needed.
bool AudioFrameSplitter::findSync(bool ending) {
    const std::uint8_t* d = m_data.data();
    const std::size_t n = m_data.size();
    for (std::size_t i = m_front; i + 1 < n; ++i) {
        if (!IsAudioSync(m_codec, d + i, static_cast<int>(n - i))) continue;
        if (n - i < static_cast<std::size_t>(m_headerBytes)) {
            if (!ending) {
                dropFront(i - m_front);
                return false;
            }
            break;
        }
        AudioFrameInfo info;
        if (!ReadAudioFrame(m_codec, d + i, static_cast<int>(n - i), info)) continue;
        const std::size_t next = i + static_cast<std::size_t>(info.bytes);
        if (next + 2 > n && !ending) {
            dropFront(i - m_front);
            return false;  // the successor decides
        }
        if (next + 2 <= n && !IsAudioSync(m_codec, d + next, static_cast<int>(n - next))) continue;
        if (next > n) break;
        dropFront(i - m_front);
        m_inSync = true;
        return true;
    }
    // Nothing here starts a frame; the last bytes may begin a sync word.
    const std::size_t keep = ending ? 0 : std::min<std::size_t>(n - m_front, 1);
    dropFront(n - m_front - keep);
    return false;
}

// Cuts the frame at the front when it is whole and its successor is where
// it must be. False when more bytes are needed or the sync was lost.
bool AudioFrameSplitter::takeFrame(bool ending) {
    const std::uint8_t* d = m_data.data() + m_front;
    const std::size_t held = m_data.size() - m_front;
    if (held < static_cast<std::size_t>(m_headerBytes)) {
        if (ending) dropFront(held);
        return false;
    }
    AudioFrameInfo info;
    const auto bytes = static_cast<std::size_t>(
        ReadAudioFrame(m_codec, d, static_cast<int>(held), info) ? info.bytes : 0);
    if (bytes == 0 || (held >= bytes + 2 && !IsAudioSync(m_codec, d + bytes, static_cast<int>(held - bytes)))) {
        // Not where a frame must be: the stream is looked through again from
        // the next byte.
        ++m_invalid;
        m_inSync = false;
        m_lossPending = true;
        dropFront(1);
        return true;
    }
    if (held < bytes + (ending ? 0 : 2)) {
        if (ending) dropFront(held);  // a frame cut short by the end
        return false;
    }
    Frame frame;
    frame.bytes.assign(d, d + bytes);
    frame.info = info;
    frame.afterLoss = std::exchange(m_lossPending, false);
    stampFrame(frame, m_base + m_front);
    m_frames.push_back(std::move(frame));
    m_front += bytes;
    return true;
}

void AudioFrameSplitter::dropFront(std::size_t count) {
    m_front += count;
}

void AudioFrameSplitter::stampFrame(Frame& frame, std::uint64_t offset) {
    // Every stamp whose PES began at or before the frame's first byte has
    // been used or passed; the latest of them is the frame's.
    while (!m_marks.empty() && m_marks.front().offset <= offset) {
        frame.hasPts = true;
        frame.pts = m_marks.front().pts;
        m_marks.pop_front();
    }
}

}  // namespace codec
