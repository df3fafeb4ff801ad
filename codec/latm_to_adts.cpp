#include "codec/latm_to_adts.h"

#include "codec/audio_frame_info.h"
#include "mpegsnap/bit_reader.h"

namespace codec {

namespace {

using mpegsnap::BitReader;

constexpr int kLoasHeader = 3;
constexpr int kAdtsHeader = 7;
constexpr int kMaxAdtsFrame = 8191;  // aac_frame_length has 13 bits

// What StreamMuxConfig says, before it replaces the converter's. The other
// data and the CRC that may follow the frames are not needed: the frames
// come first.
struct MuxConfig {
    int version = 0;
    int subFrames = 1;
    int objectType = 0;
    int rateIndex = 0;
    int channels = 0;
    int frameSamples = 1024;
};

// LatmGetValue (1.7.3.1).
std::uint32_t latmValue(BitReader& r) {
    const int bytes = static_cast<int>(r.Get(2)) + 1;
    std::uint32_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value = (value << 8) | r.Get(8);
    return value;
}

int objectType(BitReader& r) {
    const int type = static_cast<int>(r.Get(5));
    return type == 31 ? 32 + static_cast<int>(r.Get(6)) : type;
}

// samplingFrequencyIndex, with an explicit rate mapped to its index where it
// has one (ADTS can code nothing else).
int rateIndex(BitReader& r) {
    const int index = static_cast<int>(r.Get(4));
    if (index != 15) return index < 13 ? index : -1;
    return AacRateIndex(static_cast<int>(r.Get(24)));
}

// GASpecificConfig (4.4.1) of the object types ADTS can carry (1..4).
bool gaSpecificConfig(BitReader& r, MuxConfig& c, std::string* why) {
    c.frameSamples = r.GetBit() ? 960 : 1024;
    if (r.GetBit()) r.Skip(14);  // dependsOnCoreCoder: coreCoderDelay
    const bool extension = r.GetBit();
    if (c.channels == 0) {
        if (why) *why = "AAC channels given by a program config element, which ADTS cannot carry";
        return false;
    }
    if (extension) r.Skip(1);  // extensionFlag3 (object types 1..4 have no more)
    return true;
}

// AudioSpecificConfig (1.6.2.1) as far as ADTS needs it.
bool audioSpecificConfig(BitReader& r, MuxConfig& c, std::string* why) {
    int type = objectType(r);
    c.rateIndex = rateIndex(r);
    c.channels = static_cast<int>(r.Get(4));
    if (type == 5 || type == 29) {
        // SBR (and PS) signalled explicitly: the rate heard, then the core.
        rateIndex(r);
        type = objectType(r);
    }
    if (type < 1 || type > 4) {
        if (why) *why = "AAC object type " + std::to_string(type) + ", which ADTS cannot carry";
        return false;
    }
    c.objectType = type;
    if (c.rateIndex < 0 || c.channels > 7) {
        if (why) *why = "an AAC sample rate or channel configuration ADTS cannot code";
        return false;
    }
    if (!gaSpecificConfig(r, c, why)) return false;
    // A backward-compatible SBR/PS signal may follow; it changes nothing
    // that ADTS codes.
    if (r.BitsLeft() >= 16 && r.Peek(11) == 0x2B7) {
        r.Skip(11);
        if (objectType(r) == 5 && r.GetBit()) {
            rateIndex(r);
            if (r.BitsLeft() >= 12 && r.Peek(11) == 0x548) r.Skip(12);  // PS
        }
    }
    return !r.Overrun();
}

// StreamMuxConfig (1.7.3) for one programme with one layer, the only form
// broadcasts use.
bool streamMuxConfig(BitReader& r, MuxConfig& c, std::string* why) {
    c.version = static_cast<int>(r.Get(1));
    if (c.version == 1 && r.GetBit()) {
        if (why) *why = "LATM audioMuxVersionA 1 (reserved)";
        return false;
    }
    if (c.version == 1) latmValue(r);  // taraBufferFullness
    if (!r.GetBit()) {
        if (why) *why = "LATM frames of streams with different time framing";
        return false;
    }
    c.subFrames = static_cast<int>(r.Get(6)) + 1;
    if (r.Get(4) != 0 || r.Get(3) != 0) {
        if (why) *why = "LATM with more than one programme or layer";
        return false;
    }
    if (c.version == 0) {
        if (!audioSpecificConfig(r, c, why)) return false;
    } else {
        const std::uint32_t length = latmValue(r);
        const std::uint64_t start = r.Position();
        if (!audioSpecificConfig(r, c, why)) return false;
        const std::uint64_t used = r.Position() - start;
        if (used > length) return false;
        for (std::uint64_t left = length - used; left > 0;) {
            const int step = left > 16 ? 16 : static_cast<int>(left);
            r.Skip(step);
            left -= static_cast<std::uint64_t>(step);
        }
    }
    if (r.Get(3) != 0) {  // frameLengthType
        if (why) *why = "LATM frames of fixed length (CELP, HVXC)";
        return false;
    }
    r.Skip(8);  // latmBufferFullness
    if (r.GetBit()) {  // otherDataPresent: otherDataLenBits
        if (c.version == 1) {
            latmValue(r);
        } else {
            for (bool more = true; more && !r.Overrun();) {
                more = r.GetBit();
                r.Skip(8);
            }
        }
    }
    if (r.GetBit()) r.Skip(8);  // crcCheckSum
    return !r.Overrun();
}

// PayloadLengthInfo (1.7.3) for frameLengthType 0: bytes in 255-steps.
int payloadLength(BitReader& r) {
    int length = 0;
    for (;;) {
        const int step = static_cast<int>(r.Get(8));
        length += step;
        if (step != 255 || r.Overrun() || length > kMaxAdtsFrame) return length;
    }
}

void putAdtsHeader(std::vector<std::uint8_t>& out, int objectType, int rateIndex, int channels,
                   int frameLength) {
    const int profile = objectType - 1;
    out.push_back(0xFF);
    out.push_back(0xF1);  // MPEG-4, layer 0, no CRC
    out.push_back(static_cast<std::uint8_t>((profile << 6) | (rateIndex << 2) | (channels >> 2)));
    out.push_back(static_cast<std::uint8_t>(((channels & 3) << 6) | (frameLength >> 11)));
    out.push_back(static_cast<std::uint8_t>(frameLength >> 3));
    // buffer fullness 0x7FF: a variable-rate stream
    out.push_back(static_cast<std::uint8_t>(((frameLength & 7) << 5) | 0x1F));
    out.push_back(0xFC);  // and one raw data block
}

}  // namespace

bool LatmToAdts::Convert(const std::uint8_t* p, int n, std::vector<Frame>& out, std::string* why) {
    if (n < kLoasHeader || p[0] != 0x56 || (p[1] & 0xE0) != 0xE0) {
        if (why) *why = "no LOAS sync word";
        return false;
    }
    const int length = ((p[1] & 0x1F) << 8) | p[2];
    if (length > n - kLoasHeader) {
        if (why) *why = "a LOAS frame longer than the bytes held";
        return false;
    }
    BitReader r(p + kLoasHeader, static_cast<std::size_t>(length));
    if (!r.GetBit()) {  // useSameStreamMux clear: a new configuration
        MuxConfig c;
        if (!streamMuxConfig(r, c, why)) return false;
        m_configured = true;
        m_subFrames = c.subFrames;
        m_objectType = c.objectType;
        m_rateIndex = c.rateIndex;
        m_channels = c.channels;
        m_frameSamples = c.frameSamples;
    } else if (!m_configured) {
        if (why) *why = "LATM frames before their configuration";
        return false;
    }
    const std::size_t first = out.size();
    for (int i = 0; i < m_subFrames; ++i) {
        const int bytes = payloadLength(r);
        const int frameLength = kAdtsHeader + bytes;
        if (r.Overrun() || frameLength > kMaxAdtsFrame || r.BitsLeft() < 8u * static_cast<unsigned>(bytes)) {
            out.resize(first);
            if (why) *why = "a damaged LATM element";
            return false;
        }
        Frame frame;
        frame.samples = m_frameSamples;
        frame.sampleRate = AacRateOfIndex(m_rateIndex);
        frame.bytes.reserve(static_cast<std::size_t>(frameLength));
        putAdtsHeader(frame.bytes, m_objectType, m_rateIndex, m_channels, frameLength);
        for (int b = 0; b < bytes; ++b)
            frame.bytes.push_back(static_cast<std::uint8_t>(r.Get(8)));
        out.push_back(std::move(frame));
    }
    return true;
}

}  // namespace codec
