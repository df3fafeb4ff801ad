#pragma once
// A silent AC-3 frame for filling gaps in AC-3 audio.

#include <cstdint>

constexpr int kSilentAc3FrameSize = 1792;
extern const std::uint8_t kSilentAc3Frame[kSilentAc3FrameSize];
