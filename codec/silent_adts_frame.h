#pragma once
// ADTS frames of AAC that decode to silence, for filling gaps in AAC sound.
// The raw data block holds one syntactic element per channel element of the
// stream's channel configuration (ISO/IEC 13818-7 / 14496-3 table 1.19), each
// an individual channel stream of one long window with no scale factor band
// coded (max_sfb 0): no spectral data, so every sample is zero. The header
// is the stream's own (profile, rate, channels), so that a decoder changes
// nothing at the gap.

#include <cstdint>
#include <vector>

namespace codec {

// A silent frame like the ADTS frame at adts (n bytes held, header at
// least): one raw data block, no CRC. Empty for channel configuration 0
// (channels given by a program config element) or a header that is none.
std::vector<std::uint8_t> SilentAdtsFrame(const std::uint8_t* adts, int n);

}  // namespace codec
