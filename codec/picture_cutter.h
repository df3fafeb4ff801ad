#pragma once
// The video half of the picture search: fed the payloads of the video PID's
// transport packets from a position on, a cutter finds the next
// random-access point and cuts out what a decoder needs to show that
// picture, with the picture's time stamp and the file position behind the
// packet where it begins. One cutter serves one search.

#include <array>
#include <cstdint>
#include <vector>

#include "codec/video_format.h"

namespace codec {

struct VideoPayload {
    const std::uint8_t* data = nullptr;  // the packet's payload, PES header included
    int length = 0;
    std::uint64_t positionAfter = 0;  // file position just behind the packet
    // adaptation_field_control of the packet. 00 is reserved: a packet with
    // it has a damaged header and decoders discard it (the MPEG-2 cutter
    // keeps its payload, as it always has).
    int adaptationControl = 1;
};

struct CutPicture {
    // The 90 kHz stamp of the last video PES header at or before the point.
    std::int64_t stamp = 0;
    // File position just behind the packet that held the point's first byte.
    std::uint64_t position = 0;
    std::vector<std::uint8_t> bytes;  // the cut-out, an elementary stream
    // The first 12 bytes of an MPEG-2 sequence header: the stream's own for
    // MPEG-2, one with the format's size and aspect for other codecs.
    std::array<std::uint8_t, 12> sequenceHeader{};
    VideoFormat format;
};

class IPictureCutter {
  public:
    virtual ~IPictureCutter() = default;
    // One payload of the video PID. False when nothing more is wanted: the
    // picture is complete and so is the audio (audioDone).
    virtual bool Feed(const VideoPayload& payload, bool audioDone) = 0;
    // A random-access point has been found (the search window stops moving).
    virtual bool Started() const = 0;
    // What the decoder needs is held.
    virtual bool PictureDone() const = 0;
    // The search ends: the cut-out is final.
    virtual void Finish() = 0;
    // The picture found (valid once Started(), final after Finish()).
    const CutPicture& Picture() const { return m_picture; }

  protected:
    CutPicture m_picture;
};

}  // namespace codec
