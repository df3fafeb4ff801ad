#pragma once
// AC-3 sync frames that decode to silence, for filling gaps in AC-3 audio.
// Each is made for the track it fills: its sample rate, frame size (bit
// rate), coding mode and LFE channel, so that a decoder neither changes its
// channel layout nor its rate at the gap.

#include <cstdint>
#include <vector>

// The silent frame for fscod (0..2), frmsizecod (0..37), acmod (0..7) and
// lfeon; empty for codes out of range.
std::vector<std::uint8_t> SilentAc3Frame(int fscod, int frmsizecod, int acmod, int lfeon);
