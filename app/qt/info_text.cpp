#include "app/qt/info_text.h"

#include "res/strings.h"
#include "shell/text.h"

namespace {
// The four bytes after the start code, read little-endian as one word.
std::uint32_t SecondWord(const std::array<std::uint8_t, 12>& h) {
    return static_cast<std::uint32_t>(h[4]) | (static_cast<std::uint32_t>(h[5]) << 8) |
           (static_cast<std::uint32_t>(h[6]) << 16) | (static_cast<std::uint32_t>(h[7]) << 24);
}

std::string ChannelLayout(int codingMode, int lfe) {
    static const char* const kLayouts[] = {"1+1", "1", "2", "3", "3", "4", "4", "5"};
    std::string layout = codingMode >= 0 && codingMode <= 7 ? kLayouts[codingMode] : "?";
    return layout + (lfe == 1 ? ".1" : ".0");
}
// The audio codecs of HD recordings: E-AC-3 with its bit rate, AAC (whose
// headers carry none) with its sample rate.
std::string NewCodecLine(const sPMTEntry& entry) {
    const char* language = entry.language.c_str();
    switch (EntryCodec(entry)) {
        case StreamCodec::Eac3:
            return FormatString("  E-AC3 %s\t(%s, %dkBit/s)", entry.layout.c_str(), language,
                                entry.ac3BitRate);
        case StreamCodec::Aac:
            return FormatString("  AAC %s\t(%s, %dkHz)", entry.layout.c_str(), language,
                                entry.sampleRate / 1000);
        case StreamCodec::AacLatm:
            return FormatString("  AAC-LATM %s\t(%s, %dkHz)", entry.layout.c_str(), language,
                                entry.sampleRate / 1000);
        default:
            return {};
    }
}
}  // namespace

int PictureWidth(const std::array<std::uint8_t, 12>& header) {
    const std::uint32_t w = SecondWord(header);
    return static_cast<int>(((w << 4) & 0xFFF) | ((w >> 12) & 0xF));
}

int PictureHeight(const std::array<std::uint8_t, 12>& header) {
    const std::uint32_t w = SecondWord(header);
    return static_cast<int>((w & 0xF00) | ((w >> 16) & 0xFF));
}

int AspectCode(const std::array<std::uint8_t, 12>& header) {
    return static_cast<int>(SecondWord(header) >> 28);
}

InfoText BuildInfoText(std::uint64_t recordingLength, std::int32_t bitRate,
                       const std::array<std::uint8_t, 12>& header, const CPMT& streams) {
    InfoText info;
    std::string& t = info.text;
    t += LoadResString(ids::kFileSize) + ":\t" +
         ULongToStr(static_cast<std::uint32_t>(recordingLength >> 20)) + "MB\r\n";
    t += LoadResString(ids::kBitrate) + ":\t" + FormatString("%2.1f", bitRate / 1024.0) +
         "MBit/s\r\n";
    t += LoadResString(ids::kResolution) + ":\t" + std::to_string(PictureWidth(header)) + "x" +
         std::to_string(PictureHeight(header)) + "\r\n";
    t += LoadResString(ids::kAspectRatio) + ":\t";
    switch (AspectCode(header)) {
        case 2:
            t += "4:3";
            break;
        case 3:
            t += "16:9";
            break;
        case 4:
            t += "22:10";
            break;
        default:
            break;
    }
    t += "\r\n";
    if (streams.empty()) return info;
    t += LoadResString(ids::kAudioTracks) + ":\r\n";
    for (const sPMTEntry& entry : streams) {
        if (entry.sampleRate == 0) continue;
        std::string line;
        const char* language = entry.language.c_str();
        if (entry.streamType == kStreamMpeg1Audio)
            line = FormatString("  MPEG1 \t(%s, %dkBit/s)", language, entry.mpegBitRate);
        else if (entry.streamType == kStreamMpeg2Audio)
            line = FormatString("  MPEG2 \t(%s, %dkBit/s)", language, entry.mpegBitRate);
        else if (entry.streamType == kStreamAC3)
            line = FormatString("  AC3 %s\t(%s, %dkBit/s)",
                                ChannelLayout(entry.ac3CodingMode, entry.ac3Lfe).c_str(), language,
                                entry.ac3BitRate);
        else
            line = NewCodecLine(entry);
        if (line.empty()) continue;  // no audio
        t += line + "\r\n";
        // AC-3 is not offered; the codecs of HD recordings are, so that the
        // user sees them (the MPEG job says what it cannot take).
        if (entry.streamType != kStreamAC3) {
            std::string comboText = line.substr(2);
            for (char& c : comboText)
                if (c == '\t') c = ' ';
            info.audioEntries.emplace_back(comboText, entry.pid);
        }
    }
    return info;
}
