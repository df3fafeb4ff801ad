#pragma once
// Helpers for comparing the decoder with ffmpeg: generating streams,
// decoding them to raw planes and measuring the difference.

#include <cstdint>
#include <string>
#include <vector>

#include "mpegsnap/decoded_frame.h"

namespace decodertest {

bool HaveFfmpeg();
// Runs ffmpeg quietly with the arguments; true on exit code 0.
bool RunFfmpeg(const std::string& arguments);

// Peak signal-to-noise ratio of two equally long sample arrays (99 dB when
// they are equal).
double Psnr(const std::vector<std::uint8_t>& a, const std::uint8_t* b, std::size_t size);

// ffmpeg's raw decode of a stream's first count frames (in display order).
std::vector<std::uint8_t> DecodeWithFfmpeg(const std::string& input, const std::string& pixelFormat,
                                           int count);

// Y, Cb and Cr of frame against ffmpeg's raw frame at index (same size and
// format): the lowest of the three PSNRs.
double FramePsnr(const mpegsnap::DecodedFrame& frame, const std::vector<std::uint8_t>& raw,
                 int index);

// The bytes of the first picture of an elementary stream: from the first
// sequence header up to the second picture, ended by a sequence end code.
std::vector<std::uint8_t> CutFirstPicture(const std::vector<std::uint8_t>& stream);

}  // namespace decodertest
