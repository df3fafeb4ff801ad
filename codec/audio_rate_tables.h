#pragma once
// The sample-rate and block tables that AAC and E-AC-3 headers index, shared
// by the stream description (audio_frame_header) and the frame splitter
// (audio_frame_info).

namespace codec::audio_tables {

// sampling_frequency_index 0..12 of AAC (ISO/IEC 14496-3 1.6.3.4).
inline constexpr int kAacRates[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                      22050, 16000, 12000, 11025, 8000,  7350};
// fscod of E-AC-3, and fscod2 when fscod is 3 (ATSC A/52 E.1.3.1).
inline constexpr int kEac3Rates[3] = {48000, 44100, 32000};
inline constexpr int kEac3HalfRates[3] = {24000, 22050, 16000};
// Audio blocks per frame by numblkscod.
inline constexpr int kEac3Blocks[4] = {1, 2, 3, 6};

}  // namespace codec::audio_tables
