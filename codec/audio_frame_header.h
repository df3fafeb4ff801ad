#pragma once
// The first frame header of the audio codecs HD recordings carry beside MPEG
// audio and AC-3: E-AC-3 (ATSC A/52 annex E), AAC in ADTS frames (ISO/IEC
// 13818-7) and AAC in LOAS/LATM (ISO/IEC 14496-3). Each fills a stream's
// sample rate, bit rate and channel layout from the first header found in
// p[from..n); false (entry unchanged) when there is none.

#include <cstdint>
#include <string>

#include "demux/pmt_entry.h"

namespace codec {

bool ParseEac3Header(const std::uint8_t* p, int from, int n, sPMTEntry& entry);
bool ParseAdtsHeader(const std::uint8_t* p, int from, int n, sPMTEntry& entry);
bool ParseLatmHeader(const std::uint8_t* p, int from, int n, sPMTEntry& entry);

// "2.0", "5.1": full-range channels, then the low-frequency one.
std::string ChannelLayout(int channels, bool lfe);
// The layout of AC-3 and E-AC-3 audio coding mode acmod (1+1 counts two).
std::string Ac3ChannelLayout(int acmod, bool lfe);

}  // namespace codec
