#pragma once
// Decodes the picture at the head of an H.264 or HEVC cut-out with
// libavcodec (FFmpeg's decoders), the way ffmpeg decodes a raw elementary
// stream: its parser splits the bytes into access units, the decoder runs
// single-threaded, and the first frame it gives out is the picture. The
// planes come back at the picture's own size, reduced to 8 bits.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "demux/pmt_entry.h"
#include "mpegsnap/decoded_frame.h"

namespace codec {

// A piece of an elementary stream handed to the decoder as one packet: an
// access unit (or field) in decode order with the stamp of the PES packet it
// begins, or parameter sets in front of the first one.
struct CodedUnit {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    bool hasPts = false;
    std::int64_t pts = 0;
};

// A picture as the decoder shows it, with its stamp and shape.
struct ShownPicture {
    mpegsnap::DecodedFrame frame;
    // As MPEG-2's aspect_ratio_information, from the picture's size and
    // sample aspect (1 square samples, 2 4:3, 3 16:9, 4 2.21:1; 0 none).
    int aspectCode = 0;
    bool hasPts = false;
    std::int64_t pts = 0;
};

class AvPictureDecoder {
  public:
    enum class Shown { First, Last };
    // False (with the reason in *error) when the codec is not H.264/HEVC,
    // the decoder cannot be set up, or no frame comes out.
    static bool Decode(StreamCodec codec, const std::uint8_t* data, std::size_t size,
                       mpegsnap::DecodedFrame& frame, std::string* error = nullptr);
    // Decodes a run of units that starts at a random-access point, drains
    // the decoder at its end, and gives the first or the last picture in
    // display order. Damaged units are skipped; false (with the reason)
    // when no picture comes out.
    static bool DecodeRun(StreamCodec codec, const std::vector<CodedUnit>& units, Shown which,
                          ShownPicture& picture, std::string* error = nullptr);
};

}  // namespace codec
