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
// Streams the demultiplexing jobs do not handle (yet): listed, searched for
// pictures and audio headers, but given no channel.
constexpr std::int32_t kStreamAacAdts = 0x0F;  // ISO/IEC 13818-7 AAC in ADTS frames
constexpr std::int32_t kStreamAacLatm = 0x11;  // ISO/IEC 14496-3 AAC in LATM/LOAS
constexpr std::int32_t kStreamH264 = 0x1B;
constexpr std::int32_t kStreamHevc = 0x24;
// AC-3 as ATSC declares it; the stream is the same AC-3 as with type 6 and
// is entered as type 6.
constexpr std::int32_t kStreamAtscAc3 = 0x81;
// E-AC-3 as ATSC declares it; DVB declares it as private data (type 6) with
// an enhanced_AC-3 descriptor. Both are entered as 0x87.
constexpr std::int32_t kStreamEac3 = 0x87;

// What a stream carries, for the information shown and the codec layer.
enum class StreamCodec : std::int32_t {
    Unknown = 0,
    Mpeg2Video,
    H264,
    Hevc,
    MpegAudio,
    Ac3,
    Eac3,
    Aac,
    AacLatm,
    DvbSubtitle,
    Teletext,
};

struct sPMTEntry {
    std::int32_t streamType = 0;
    std::int32_t pid = 0;
    std::int32_t lastContinuity = -1;
    std::string language;
    // Filled from the stream's first audio frame header by the picture search.
    std::int32_t sampleRate = 0;   // Hz; 0 while no header has been read
    std::int32_t mpegBitRate = 0;  // kbit/s
    std::int32_t reserved = 0;
    std::int32_t ac3BitRate = 0;     // kbit/s (AC-3 and E-AC-3)
    std::int32_t ac3CodingMode = 0;  // acmod 0..7 (AC-3 and E-AC-3)
    std::int32_t ac3Lfe = 0;         // lfeon 0/1
    // Unknown until the PMT or the data says; EntryCodec() derives it from
    // the stream type for entries made before codecs were recorded.
    StreamCodec codec = StreamCodec::Unknown;
    // Channel layout from the frame header ("2.0", "5.1", "1+1"); empty
    // until a header was read.
    std::string layout{};
    // H.264 only: whether the stream marks its random-access points (IDR
    // pictures or recovery point SEI): 0 not yet known, 1 it does, 2 it does
    // not, so that its plain I pictures serve instead.
    std::int32_t randomAccessMarks = 0;
};

using CPMT = std::vector<sPMTEntry>;

inline bool IsMpegAudio(std::int32_t type) {
    return type == kStreamMpeg1Audio || type == kStreamMpeg2Audio;
}
// Every audio stream the programme may carry, whatever the jobs make of it.
inline bool IsAudio(std::int32_t type) {
    return IsMpegAudio(type) || type == kStreamAC3 || type == kStreamEac3 ||
           type == kStreamAacAdts || type == kStreamAacLatm;
}
inline bool IsVideo(std::int32_t type) {
    return type == kStreamVideo || type == kStreamH264 || type == kStreamHevc;
}
// The streams the demultiplexing jobs take: MPEG-2 video, MPEG audio, AC-3.
inline bool IsEngineStream(std::int32_t type) {
    return type == kStreamVideo || IsMpegAudio(type) || type == kStreamAC3;
}

// The codec of an entry: its own when known, else what its type implies.
StreamCodec EntryCodec(const sPMTEntry& entry);
// "mpeg2", "h264", "hevc", "mp2", "ac3", "eac3", "aac", "aac-latm",
// "dvb-subtitle", "teletext"; "unknown".
const char* CodecName(StreamCodec codec);
// For messages: "MPEG-2 video", "H.264 video", "AAC audio", ...
const char* CodecDisplayName(StreamCodec codec);
