#include "demux/audio_frame.h"

namespace {

// Layer II bit rates of MPEG-1 audio (ISO/IEC 11172-3), kbit/s by index.
constexpr int kLayer2Rates[16] = {0,   32,  48,  56,  64,  80,  96,  112,
                                  128, 160, 192, 224, 256, 320, 384, 0};
constexpr int kMpegSampleRates[4] = {44100, 48000, 32000, 0};

// AC-3 frame sizes in 16-bit words (ATSC A/52 table 5.18), by fscod and frmsizecod.
constexpr int kAc3Words[3][38] = {
    {64,  64,  80,  80,  96,  96,  112, 112, 128, 128,  160,  160,  192,
     192, 224, 224, 256, 256, 320, 320, 384, 384, 448,  448,  512,  512,
     640, 640, 768, 768, 896, 896, 1024, 1024, 1152, 1152, 1280, 1280},
    {69,  70,  87,  88,  104, 105, 121, 122, 139, 140,  174,  175,  208,
     209, 243, 244, 278, 279, 348, 349, 417, 418, 487,  488,  557,  558,
     696, 697, 835, 836, 975, 976, 1114, 1115, 1253, 1254, 1393, 1394},
    {96,  96,  120, 120, 144, 144, 168, 168, 192, 192,  240,  240,  288,
     288, 336, 336, 384, 384, 480, 480, 576, 576, 672,  672,  768,  768,
     960, 960, 1152, 1152, 1344, 1344, 1536, 1536, 1728, 1728, 1920, 1920}};
constexpr int kAc3SampleRates[3] = {48000, 44100, 32000};
constexpr int kAc3Rates[19] = {32,  40,  48,  56,  64,  80,  96,  112, 128, 160,
                               192, 224, 256, 320, 384, 448, 512, 576, 640};

}  // namespace

std::int32_t AudioFrame::Ticks() const {
    return sampleRate > 0 ? static_cast<std::int32_t>(std::int64_t{samples} * 90000 / sampleRate) : 0;
}

bool AudioFrame::ParseMpeg(const std::uint8_t* p, int length, AudioFrame& frame) {
    if (length < kMpegHeaderBytes || p[0] != 0xFF || (p[1] != 0xFC && p[1] != 0xFD)) return false;
    const int kbits = kLayer2Rates[p[2] >> 4];
    const int sampleRate = kMpegSampleRates[(p[2] >> 2) & 3];
    if (kbits == 0 || sampleRate == 0) return false;
    frame = {};
    frame.kbits = kbits;
    frame.sampleRate = sampleRate;
    frame.samples = 1152;
    // 144 bytes per kbit/s at 1 kHz; a set padding bit adds one byte, which
    // 44.1 kHz streams use to keep their average rate.
    frame.bytes = 144 * kbits * 1000 / sampleRate + ((p[2] >> 1) & 1);
    return true;
}

bool AudioFrame::ParseAc3(const std::uint8_t* p, int length, AudioFrame& frame) {
    if (length < kAc3HeaderBytes || p[0] != 0x0B || p[1] != 0x77) return false;
    const int fscod = p[4] >> 6;
    const int code = p[4] & 0x3F;
    if (fscod > 2 || code >= 38) return false;
    frame = {};
    frame.fscod = fscod;
    frame.frmsizecod = code;
    frame.bytes = 2 * kAc3Words[fscod][code];
    frame.sampleRate = kAc3SampleRates[fscod];
    frame.samples = 1536;
    frame.kbits = kAc3Rates[code / 2];
    frame.bsid = p[5] >> 3;
    if (length >= 7) {
        frame.acmod = p[6] >> 5;
        // After acmod: cmixlev, surmixlev and dsurmod (two bits each) when
        // the mode has them, then lfeon.
        int bit = 3;
        if ((frame.acmod & 1) && frame.acmod != 1) bit += 2;
        if (frame.acmod & 4) bit += 2;
        if (frame.acmod == 2) bit += 2;
        const int byte = 6 + bit / 8;
        if (byte < length) frame.lfeon = (p[byte] >> (7 - bit % 8)) & 1;
    }
    return true;
}
