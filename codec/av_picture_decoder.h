#pragma once
// Decodes the picture at the head of an H.264 or HEVC cut-out with
// libavcodec (FFmpeg's decoders), the way ffmpeg decodes a raw elementary
// stream: its parser splits the bytes into access units, the decoder runs
// single-threaded, and the first frame it gives out is the picture. The
// planes come back at the picture's own size, reduced to 8 bits.

#include <cstddef>
#include <cstdint>
#include <string>

#include "demux/pmt_entry.h"
#include "mpegsnap/decoded_frame.h"

namespace codec {

class AvPictureDecoder {
  public:
    // False (with the reason in *error) when the codec is not H.264/HEVC,
    // the decoder cannot be set up, or no frame comes out.
    static bool Decode(StreamCodec codec, const std::uint8_t* data, std::size_t size,
                       mpegsnap::DecodedFrame& frame, std::string* error = nullptr);
};

}  // namespace codec
