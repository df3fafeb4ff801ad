#pragma once
// The length and duration of one audio frame of any codec a recording may
// carry, read from the frame's own header: MPEG-1 Layer II, AC-3, E-AC-3
// (ATSC A/52 annex E), AAC in ADTS frames (ISO/IEC 13818-7) and the LOAS
// frames that carry AAC in LATM (ISO/IEC 14496-3 1.7.2). What the frame
// splitter needs to cut a stream into frames and to time them.

#include <cstdint>

#include "demux/pmt_entry.h"

namespace codec {

struct AudioFrameInfo {
    int bytes = 0;  // the whole frame, header included
    // Samples per channel the frame adds to the stream's time line: 0 for an
    // E-AC-3 frame that belongs with the one before it (a dependent
    // substream, another independent substream of the same time) and for a
    // LOAS frame, whose AAC frames are counted once taken out of it.
    int samples = 0;
    int sampleRate = 0;  // Hz; for AAC the rate the header codes (the core rate of HE-AAC)

    // Duration in 90 kHz ticks, rounded down.
    std::int64_t Ticks() const {
        return sampleRate > 0 ? std::int64_t{samples} * 90000 / sampleRate : 0;
    }
};

// Bytes a frame header of the codec needs before ReadAudioFrame can tell its
// length (0 for codecs that are no audio).
int AudioHeaderBytes(StreamCodec codec);
// Whether p (at least two bytes) begins with the codec's sync word.
bool IsAudioSync(StreamCodec codec, const std::uint8_t* p, int n);
// Reads the header at p (n bytes held); false when it is none of the codec's
// or codes a reserved value. The frame's bytes need not be held.
bool ReadAudioFrame(StreamCodec codec, const std::uint8_t* p, int n, AudioFrameInfo& frame);

// The ISO/IEC 14496-3 sampling frequency index of a rate; -1 for a rate
// without one.
int AacRateIndex(int sampleRate);
// The rate of an index 0..12; 0 for others.
int AacRateOfIndex(int index);

}  // namespace codec
