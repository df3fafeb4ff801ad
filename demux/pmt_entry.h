#pragma once
// One elementary stream of a programme, as the PMT (or the PES scan) names it,
// with the audio details that the picture search reads from its first frame.

#include <cstdint>
#include <string>
#include <vector>

// stream_type values the engine knows (ISO/IEC 13818-1), plus 5 for private
// data that is not AC-3 (teletext, subtitles), which gets no channel.
constexpr std::int32_t kStreamVideo = 2;
constexpr std::int32_t kStreamMpeg1Audio = 3;
constexpr std::int32_t kStreamMpeg2Audio = 4;
constexpr std::int32_t kStreamPrivateOther = 5;
constexpr std::int32_t kStreamAC3 = 6;

struct sPMTEntry {
    std::int32_t streamType = 0;
    std::int32_t pid = 0;
    std::int32_t lastContinuity = -1;
    std::string language;
    // Filled from the stream's first audio frame header by the picture search.
    std::int32_t sampleRate = 0;  // Hz; 0 while no header has been read
    std::int32_t mpegBitRate = 0;  // kbit/s
    std::int32_t reserved = 0;
    std::int32_t ac3BitRate = 0;  // kbit/s
    std::int32_t ac3CodingMode = 0;  // acmod 0..7
    std::int32_t ac3Lfe = 0;  // lfeon 0/1
};

using CPMT = std::vector<sPMTEntry>;

inline bool IsMpegAudio(std::int32_t type) {
    return type == kStreamMpeg1Audio || type == kStreamMpeg2Audio;
}
inline bool IsAudio(std::int32_t type) { return IsMpegAudio(type) || type == kStreamAC3; }
