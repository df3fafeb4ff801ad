#include "codec/audio_frame_header.h"

#include "codec/audio_rate_tables.h"
#include "mpegsnap/bit_reader.h"

namespace codec {

namespace {
using audio_tables::kEac3Blocks;
using audio_tables::kEac3HalfRates;
using audio_tables::kAacRates;
using audio_tables::kEac3Rates;

// channel_configuration 1..7 of AAC: full-range channels and LFE.
bool aacLayout(int configuration, sPMTEntry& entry) {
    static const int kChannels[8] = {0, 1, 2, 3, 4, 5, 5, 7};
    if (configuration < 1 || configuration > 7) {
        entry.layout = "";  // carried in a program config element: not read here
        return true;
    }
    entry.layout = ChannelLayout(kChannels[configuration], configuration >= 6);
    return true;
}

// Broadcast AAC below 32 kHz is the core of HE-AAC whose spectral band
// replication (signalled implicitly, inside the data) doubles the rate that
// is heard.
int heardRate(int coreRate) {
    return coreRate <= 24000 ? 2 * coreRate : coreRate;
}

// AudioSpecificConfig (ISO/IEC 14496-3 1.6.2.1), as far as the rate and the
// channels.
bool parseAudioSpecificConfig(mpegsnap::BitReader& r, sPMTEntry& entry) {
    auto objectType = [&r] {
        int type = static_cast<int>(r.Get(5));
        if (type == 31) type = 32 + static_cast<int>(r.Get(6));
        return type;
    };
    auto rate = [&r] {
        const int index = static_cast<int>(r.Get(4));
        if (index == 15) return static_cast<int>(r.Get(24));
        return index < 13 ? kAacRates[index] : 0;
    };
    const int type = objectType();
    int sampleRate = rate();
    const int channels = static_cast<int>(r.Get(4));
    bool explicitSbr = false;
    if (type == 5 || type == 29) {  // SBR or PS signalled explicitly
        sampleRate = rate();
        explicitSbr = true;
    }
    if (r.Overrun() || sampleRate <= 0 || sampleRate > 96000) return false;
    entry.sampleRate = explicitSbr ? sampleRate : heardRate(sampleRate);
    entry.mpegBitRate = 0;
    return aacLayout(channels, entry);
}

// LatmGetValue (1.7.3.1).
std::uint32_t latmValue(mpegsnap::BitReader& r) {
    const int bytes = static_cast<int>(r.Get(2)) + 1;
    return r.Get(8 * bytes);
}
}  // namespace

std::string ChannelLayout(int channels, bool lfe) {
    return std::to_string(channels) + (lfe ? ".1" : ".0");
}

std::string Ac3ChannelLayout(int acmod, bool lfe) {
    static const int kChannels[8] = {2, 1, 2, 3, 3, 4, 4, 5};
    return ChannelLayout(kChannels[acmod & 7], lfe);
}

bool ParseEac3Header(const std::uint8_t* p, int from, int n, sPMTEntry& entry) {
    // The header up to bsid: six bytes.
    for (int i = std::max(from, 0); i + 6 <= n; ++i) {
        if (p[i] != 0x0B || p[i + 1] != 0x77) continue;
        mpegsnap::BitReader r(p + i + 2, static_cast<std::size_t>(n - i - 2));
        const int streamType = static_cast<int>(r.Get(2));
        const int substream = static_cast<int>(r.Get(3));
        const int frameWords = static_cast<int>(r.Get(11)) + 1;
        const int fscod = static_cast<int>(r.Get(2));
        int sampleRate = 0, blocks = 6;
        if (fscod == 3) {
            const int fscod2 = static_cast<int>(r.Get(2));
            if (fscod2 == 3) continue;
            sampleRate = kEac3HalfRates[fscod2];
        } else {
            sampleRate = kEac3Rates[fscod];
            blocks = kEac3Blocks[r.Get(2)];
        }
        const int acmod = static_cast<int>(r.Get(3));
        const int lfe = static_cast<int>(r.Get(1));
        const int bsid = static_cast<int>(r.Get(5));
        // Independent substream 0 describes the programme; dependent ones
        // add channels to it.
        if (r.Overrun() || bsid <= 10 || bsid > 16 || streamType == 1 || substream != 0) continue;
        const long long bits = 16LL * frameWords * sampleRate / (256 * blocks);
        entry.sampleRate = sampleRate;
        entry.ac3BitRate = static_cast<std::int32_t>(bits / 1000);
        entry.ac3CodingMode = acmod;
        entry.ac3Lfe = lfe;
        entry.layout = Ac3ChannelLayout(acmod, lfe != 0);
        return true;
    }
    return false;
}

bool ParseAdtsHeader(const std::uint8_t* p, int from, int n, sPMTEntry& entry) {
    for (int i = std::max(from, 0); i + 6 < n; ++i) {
        // syncword 0xFFF, layer 00
        if (p[i] != 0xFF || (p[i + 1] & 0xF6) != 0xF0) continue;
        const int rateIndex = (p[i + 2] >> 2) & 0x0F;
        const int channels = ((p[i + 2] & 1) << 2) | (p[i + 3] >> 6);
        const int frameLength = ((p[i + 3] & 3) << 11) | (p[i + 4] << 3) | (p[i + 5] >> 5);
        if (rateIndex >= 13 || frameLength < 7) continue;
        entry.sampleRate = heardRate(kAacRates[rateIndex]);
        entry.mpegBitRate = 0;
        return aacLayout(channels, entry);
    }
    return false;
}

bool ParseLatmHeader(const std::uint8_t* p, int from, int n, sPMTEntry& entry) {
    for (int i = std::max(from, 0); i + 3 < n; ++i) {
        // AudioSyncStream: syncword 0x2B7 (11 bits), then 13 bits of length.
        if (p[i] != 0x56 || (p[i + 1] & 0xE0) != 0xE0) continue;
        mpegsnap::BitReader r(p + i + 3, static_cast<std::size_t>(n - i - 3));
        if (r.GetBit()) continue;  // useSameStreamMux: the configuration is elsewhere
        const int version = static_cast<int>(r.Get(1));
        if (version == 1 && r.GetBit()) continue;      // audioMuxVersionA: reserved
        if (version == 1) latmValue(r);                // taraBufferFullness
        r.Skip(1);                                     // allStreamsSameTimeFraming
        r.Skip(6);                                     // numSubFrames
        if (r.Get(4) != 0 || r.Get(3) != 0) continue;  // more than one programme or layer
        if (version == 1) latmValue(r);                // ascLen
        if (parseAudioSpecificConfig(r, entry)) return true;
    }
    return false;
}

}  // namespace codec
