#pragma once
// AAC carried in LATM (ISO/IEC 14496-3 1.7), as DVB sends it in LOAS frames
// (stream type 0x11), rewritten as ADTS frames (ISO/IEC 13818-7), the form
// AAC elementary-stream files take. Each LOAS frame holds an AudioMuxElement:
// the StreamMuxConfig (the AudioSpecificConfig with the object type, rate
// and channels), or a flag to use the last one, then the raw AAC frames as
// bit strings that need not begin on a byte. Every raw frame becomes one
// ADTS frame: a 7-byte header made from the AudioSpecificConfig, then the
// frame's bytes.
//
// HE-AAC (SBR, PS) goes as its AAC core: ADTS codes the core's object type
// and rate, and decoders find the SBR data in the frames themselves.

#include <cstdint>
#include <string>
#include <vector>

namespace codec {

class LatmToAdts {
  public:
    struct Frame {
        std::vector<std::uint8_t> bytes;  // ADTS header and raw frame
        int samples = 0;                  // per channel, at sampleRate
        int sampleRate = 0;               // of the AAC core
    };

    // One LOAS frame (from its sync word on, n bytes). Appends the ADTS
    // frames it holds to out; false, with the reason in *why, when it holds
    // none that can be written (no configuration seen yet, a configuration
    // ADTS cannot carry, or a damaged element).
    bool Convert(const std::uint8_t* p, int n, std::vector<Frame>& out, std::string* why);

    // A configuration has been read.
    bool Configured() const { return m_configured; }

  private:
    bool m_configured = false;
    int m_subFrames = 1;
    int m_objectType = 0;  // of the AAC core, 1..4
    int m_rateIndex = 0;
    int m_channels = 0;
    int m_frameSamples = 1024;
};

}  // namespace codec
