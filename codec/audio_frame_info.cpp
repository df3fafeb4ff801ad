#include "codec/audio_frame_info.h"

#include "codec/audio_rate_tables.h"

#include "demux/audio_frame.h"

namespace codec {

namespace {

using audio_tables::kAacRates;
using audio_tables::kEac3Blocks;
using audio_tables::kEac3HalfRates;
using audio_tables::kEac3Rates;
// Samples per audio block of AC-3 and E-AC-3.
constexpr int kBlockSamples = 256;
constexpr int kAacFrameSamples = 1024;

constexpr int kMpegHeaderBytes = 4;
constexpr int kAc3HeaderBytes = 6;
constexpr int kAdtsHeaderBytes = 7;
constexpr int kLoasHeaderBytes = 3;

bool isAc3Sync(const std::uint8_t* p) {
    return p[0] == 0x0B && p[1] == 0x77;
}

bool readMpeg(const std::uint8_t* p, int n, AudioFrameInfo& info) {
    AudioFrame frame;
    if (!AudioFrame::ParseMpeg(p, n, frame)) return false;
    info = {frame.bytes, frame.samples, frame.sampleRate};
    return true;
}

bool readAc3(const std::uint8_t* p, int n, AudioFrameInfo& info) {
    AudioFrame frame;
    if (!AudioFrame::ParseAc3(p, n, frame)) return false;
    info = {frame.bytes, frame.samples, frame.sampleRate};
    return true;
}

// E-AC-3 syncframe (A/52 E.1.2.1): strmtyp, substreamid, frmsiz, fscod,
// fscod2 or numblkscod, acmod, lfeon, bsid. A stream declared E-AC-3 may
// carry plain AC-3 frames (bsid up to 10), which decoders take as well.
bool readEac3(const std::uint8_t* p, int n, AudioFrameInfo& info) {
    if (n < kAc3HeaderBytes || !isAc3Sync(p)) return false;
    const int bsid = p[5] >> 3;
    if (bsid <= 10) return readAc3(p, n, info);
    if (bsid > 16) return false;
    const int streamType = p[2] >> 6;
    const int substream = (p[2] >> 3) & 7;
    const int frameWords = (((p[2] & 7) << 8) | p[3]) + 1;
    const int fscod = p[4] >> 6;
    int rate = 0, blocks = 6;
    if (fscod == 3) {
        const int fscod2 = (p[4] >> 4) & 3;
        if (fscod2 == 3) return false;
        rate = kEac3HalfRates[fscod2];
    } else {
        rate = kEac3Rates[fscod];
        blocks = kEac3Blocks[(p[4] >> 4) & 3];
    }
    if (streamType == 3 || 2 * frameWords < kAc3HeaderBytes + 1) return false;
    info.bytes = 2 * frameWords;
    info.sampleRate = rate;
    // Independent substream 0 carries the programme's time; the others
    // (dependent substreams with more channels) play at the same time.
    info.samples = streamType != 1 && substream == 0 ? blocks * kBlockSamples : 0;
    return true;
}

// ADTS fixed and variable header (13818-7 6.2): 0xFFF, layer 00.
bool readAdts(const std::uint8_t* p, int n, AudioFrameInfo& info) {
    if (n < kAdtsHeaderBytes || p[0] != 0xFF || (p[1] & 0xF6) != 0xF0) return false;
    const int rate = AacRateOfIndex((p[2] >> 2) & 0x0F);
    const int length = ((p[3] & 3) << 11) | (p[4] << 3) | (p[5] >> 5);
    const bool crc = (p[1] & 1) == 0;
    if (rate == 0 || length < kAdtsHeaderBytes + (crc ? 2 : 0)) return false;
    info.bytes = length;
    info.sampleRate = rate;
    info.samples = kAacFrameSamples * ((p[6] & 3) + 1);
    return true;
}

// AudioSyncStream (14496-3 1.7.2): 0x2B7 in 11 bits, 13 bits of length.
bool readLoas(const std::uint8_t* p, int n, AudioFrameInfo& info) {
    if (n < kLoasHeaderBytes || p[0] != 0x56 || (p[1] & 0xE0) != 0xE0) return false;
    const int length = ((p[1] & 0x1F) << 8) | p[2];
    if (length == 0) return false;
    info.bytes = kLoasHeaderBytes + length;
    info.samples = 0;
    info.sampleRate = 0;
    return true;
}

}  // namespace

int AudioHeaderBytes(StreamCodec codec) {
    switch (codec) {
        case StreamCodec::MpegAudio: return kMpegHeaderBytes;
        case StreamCodec::Ac3:
        case StreamCodec::Eac3: return kAc3HeaderBytes;
        case StreamCodec::Aac: return kAdtsHeaderBytes;
        case StreamCodec::AacLatm: return kLoasHeaderBytes;
        default: return 0;
    }
}

bool IsAudioSync(StreamCodec codec, const std::uint8_t* p, int n) {
    if (n < 2) return false;
    switch (codec) {
        case StreamCodec::MpegAudio: return p[0] == 0xFF && (p[1] == 0xFC || p[1] == 0xFD);
        case StreamCodec::Ac3:
        case StreamCodec::Eac3: return isAc3Sync(p);
        case StreamCodec::Aac: return p[0] == 0xFF && (p[1] & 0xF6) == 0xF0;
        case StreamCodec::AacLatm: return p[0] == 0x56 && (p[1] & 0xE0) == 0xE0;
        default: return false;
    }
}

bool ReadAudioFrame(StreamCodec codec, const std::uint8_t* p, int n, AudioFrameInfo& frame) {
    switch (codec) {
        case StreamCodec::MpegAudio: return readMpeg(p, n, frame);
        case StreamCodec::Ac3: return readAc3(p, n, frame);
        case StreamCodec::Eac3: return readEac3(p, n, frame);
        case StreamCodec::Aac: return readAdts(p, n, frame);
        case StreamCodec::AacLatm: return readLoas(p, n, frame);
        default: return false;
    }
}

int AacRateIndex(int sampleRate) {
    for (int i = 0; i < 13; ++i)
        if (kAacRates[i] == sampleRate) return i;
    return -1;
}

int AacRateOfIndex(int index) {
    return index >= 0 && index < 13 ? kAacRates[index] : 0;
}

}  // namespace codec
