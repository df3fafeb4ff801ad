#pragma once
// The MPEG-2 picture cutter: from the next sequence header up to the packet
// of the next B picture (or the next sequence header), packet by packet as
// the snapshot decoder has always been given it.

#include <cstddef>

#include "codec/picture_cutter.h"

namespace codec {

class Mpeg2PictureCutter : public IPictureCutter {
  public:
    static constexpr std::size_t kOutputSize = 2072576;

    Mpeg2PictureCutter();
    bool Feed(const VideoPayload& payload, bool audioDone) override;
    bool Started() const override { return m_started; }
    bool PictureDone() const override { return m_pictureDone; }
    void Finish() override;

  private:
    void append(const std::uint8_t* bytes, int count);

    std::size_t m_length = 0;        // bytes of m_picture.bytes in use
    std::size_t m_headerOffset = 0;  // where the sequence header went
    bool m_started = false;
    bool m_pictureDone = false;
};

}  // namespace codec
