#pragma once
// Cuts the elementary stream of one audio track into whole frames, by the
// codec's own frame headers, and gives each frame the time stamp it has:
// the PTS of a PES header belongs to the first frame that begins in that
// PES packet (ISO/IEC 13818-1 2.4.3.7); the frames after it follow on the
// stream's own time line. A frame is taken when the header of the one after
// it is where its length says (or the stream ends there), so that a sync
// word inside the data is not taken for a frame. After lost packets the
// stream starts again at the next PES packet, whose stamp tells how much
// was lost: the frames found in the rest of a damaged PES would have none.

#include <cstdint>
#include <deque>
#include <vector>

#include "codec/audio_frame_info.h"
#include "demux/pmt_entry.h"

namespace codec {

class AudioFrameSplitter {
  public:
    struct Frame {
        std::vector<std::uint8_t> bytes;
        AudioFrameInfo info;
        bool hasPts = false;
        std::uint64_t pts = 0;  // 33-bit stamp of its PES header
        // Frames were lost before this one (lost packets, bytes that were
        // no frame): its stamp, or the lack of one, tells how many.
        bool afterLoss = false;
    };

    explicit AudioFrameSplitter(StreamCodec codec);

    // A PES packet begins; its payload (behind the header) comes next.
    void StartPes(bool hasPts, std::uint64_t pts);
    // Elementary-stream bytes, PES headers taken off.
    void Feed(const std::uint8_t* data, std::size_t size);
    // Packets of the stream were lost before the next bytes.
    void Lose();
    // The stream has ended: a last frame whose successor cannot be seen is
    // taken when it is whole.
    void Finish();
    // The frames cut since the last call.
    std::vector<Frame> TakeFrames();
    // Places where the next frame was not where the last one said (damage,
    // or a stream that is not the codec it was declared).
    int InvalidFrames() const { return m_invalid; }

  private:
    struct StampMark {
        std::uint64_t offset = 0;  // stream offset of the PES payload's first byte
        std::uint64_t pts = 0;
    };

    void split(bool ending);
    bool findSync(bool ending);
    bool takeFrame(bool ending);
    void dropFront(std::size_t count);
    void stampFrame(Frame& frame, std::uint64_t offset);

    StreamCodec m_codec;
    int m_headerBytes;
    std::vector<std::uint8_t> m_data;  // stream bytes from offset m_base on
    std::size_t m_front = 0;           // bytes of m_data already cut
    std::uint64_t m_base = 0;
    std::deque<StampMark> m_marks;
    bool m_inSync = false;
    bool m_lossPending = false;
    bool m_awaitPes = false;  // after a loss: bytes count from the next PES on
    int m_invalid = 0;
    std::vector<Frame> m_frames;
};

}  // namespace codec
