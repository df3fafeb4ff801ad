#pragma once
// The header of one audio frame as the demultiplexer cuts it: MPEG-1 Layer II
// (ISO/IEC 11172-3) or AC-3 (ATSC A/52). Gives the frame's length in bytes,
// its duration, and what the silence made for a gap in the stream must copy.

#include <cstdint>

struct AudioFrame {
    int bytes = 0;       // the whole frame, padding slot included
    int samples = 0;     // per channel: 1152 for Layer II, 1536 for AC-3
    int sampleRate = 0;  // Hz
    int kbits = 0;       // bit rate of the frame
    // AC-3 only: the sync frame's codes, copied by its silent stand-in.
    int fscod = 0;
    int frmsizecod = 0;
    int acmod = 0;
    int lfeon = 0;
    int bsid = 0;

    // Duration in 90 kHz ticks, rounded down (2351 of 2351.02 at 44.1 kHz).
    std::int32_t Ticks() const;

    // Reads an MPEG-1 Layer II header (FF FC or FF FD) from its first four
    // bytes; false for free format, a reserved rate or fewer than 4 bytes.
    static bool ParseMpeg(const std::uint8_t* p, int length, AudioFrame& frame);
    // Reads an AC-3 sync frame header (0B 77): six bytes give the length,
    // the seventh the coding mode and LFE flag; false for a reserved sample
    // rate or size code, or fewer than six bytes.
    static bool ParseAc3(const std::uint8_t* p, int length, AudioFrame& frame);
    // The header bytes each kind needs before its length is known.
    static constexpr int kMpegHeaderBytes = 4;
    static constexpr int kAc3HeaderBytes = 6;
};
