#include "demux/pmt_parser.h"

#include <algorithm>

#include "shell/log.h"
#include "shell/text.h"

namespace {
// Offsets inside a PMT section.
constexpr int kFixedHeader = 12;  // up to and including program_info_length
constexpr int kCrcSize = 4;
constexpr int kEntryHeader = 5;  // stream_type, elementary_PID, ES_info_length

int sectionLength(const std::uint8_t* s) {
    return ((s[1] & 0x0F) << 8) | s[2];
}
int programInfoLength(const std::uint8_t* s) {
    return ((s[10] & 0x0F) << 8) | s[11];
}
bool isLanguageLetter(std::uint8_t c) {
    return c >= 0x40 && c <= 0x7F;
}
// Descriptor tags (ISO/IEC 13818-1, ETSI EN 300 468).
constexpr int kLanguageDescriptor = 0x0A;
constexpr int kVbiTeletextDescriptor = 0x46;
constexpr int kTeletextDescriptor = 0x56;
constexpr int kSubtitlingDescriptor = 0x59;
constexpr int kEnhancedAc3Descriptor = 0x7A;
constexpr int kExtensionDescriptor = 0x7F;
constexpr int kSupplementaryAudio = 0x06;  // its descriptor_tag_extension
}  // namespace

bool CPmtParser::IsPMTSection(const std::uint8_t* s, int length) {
    if (length < kFixedHeader) return false;
    const int sectionLen = sectionLength(s);
    // The three bytes before section_length plus the section must be held.
    if (3 + sectionLen > length) return false;
    return sectionLen > 4 && sectionLen <= 1021 && s[7] >= s[6] && (s[1] & 0x80) != 0 &&
           sectionLen >= programInfoLength(s) + 13 && s[0] == 2;
}

int CPmtParser::OnPMTSection(const std::uint8_t* s, int length) {
    if (length < kFixedHeader || (s[5] & 0x01) == 0) {
        LogWrite("Not a valid PMT Section!", 3);
        return 0;
    }
    const int program = (s[3] << 8) | s[4];
    const int version = (s[5] >> 1) & 0x1F;
    const bool known = std::any_of(m_parsed.begin(), m_parsed.end(),
                                   [&](const auto& pair) { return pair.first == program; });
    if (!known) {
        LogWrite("New PMT found", 3);
    } else if (std::find(m_parsed.begin(), m_parsed.end(), std::make_pair(program, version)) !=
               m_parsed.end()) {
        return 1;
    } else {
        LogWrite("New PMT for this program", 3);
    }
    if (!IsPMTSection(s, length)) {
        LogWrite("Not a valid PMT", 3);
        return 0;
    }
    if (!ParsePMT(*m_target, s, length)) return 0;
    m_parsed.emplace_back(program, version);
    ++m_programs;
    return 1;
}

bool CPmtParser::ParsePMT(CPMT& pmt, const std::uint8_t* s, int length) {
    if (!IsPMTSection(s, length)) return false;
    const int crcStart = 3 + sectionLength(s) - kCrcSize;
    int entry = kFixedHeader + programInfoLength(s);
    while (entry + kEntryHeader <= crcStart) {
        const int infoLength = ((s[entry + 3] & 0x0F) << 8) | s[entry + 4];
        // An entry whose descriptors run into the CRC is damaged; the entries
        // before it stand.
        if (entry + kEntryHeader + infoLength > crcStart) break;
        parseEntry(pmt, s, entry);
        entry += kEntryHeader + infoLength;
    }
    return true;
}

void CPmtParser::parseEntry(CPMT& pmt, const std::uint8_t* s, int entry) {
    sPMTEntry e;
    e.streamType = s[entry];
    e.pid = ((s[entry + 1] & 0x1F) << 8) | s[entry + 2];
    e.lastContinuity = -1;
    const int infoEnd = entry + kEntryHeader + (((s[entry + 3] & 0x0F) << 8) | s[entry + 4]);
    LogWrite("**stream_type = " + Hex32(static_cast<std::uint32_t>(e.streamType)), 3);
    LogWrite("**elementary_PID = " + Hex32(static_cast<std::uint32_t>(e.pid)), 3);

    classify(e, s, entry, infoEnd);
    const bool wanted = IsVideo(e.streamType) || IsAudio(e.streamType) ||
                        e.codec == StreamCodec::DvbSubtitle || e.codec == StreamCodec::Teletext;
    const bool samePid =
        std::any_of(pmt.begin(), pmt.end(), [&](const sPMTEntry& x) { return x.pid == e.pid; });
    const bool secondVideo = IsVideo(e.streamType) &&
                             std::any_of(pmt.begin(), pmt.end(),
                                         [](const sPMTEntry& x) { return IsVideo(x.streamType); });
    if (wanted && !samePid && !secondVideo) {
        LogWrite("Adding PMT Entry", 3);
        pmt.push_back(e);
    }
    LogWrite("Next", 3);
}

// The stream type and codec of an entry, and its language. MPEG-2 video,
// MPEG audio and AC-3 keep the receivers' rules; the other codecs are told by
// their types and descriptors.
void CPmtParser::classify(sPMTEntry& e, const std::uint8_t* s, int entry, int infoEnd) {
    const int descriptors = entry + kEntryHeader;
    switch (e.streamType) {
        case kStreamAC3:
            // DVB: private data is E-AC-3 with an enhanced_AC-3 descriptor,
            // subtitles with a subtitling descriptor, teletext with a
            // teletext (or VBI teletext) descriptor.
            if (findDescriptor(s, descriptors, infoEnd, kEnhancedAc3Descriptor) >= 0) {
                e.streamType = kStreamEac3;
                break;
            }
            if (findDescriptor(s, descriptors, infoEnd, kSubtitlingDescriptor) >= 0) {
                e.streamType = kStreamPrivateOther;
                e.codec = StreamCodec::DvbSubtitle;
                e.language = descriptorLanguage(s, descriptors, infoEnd, kSubtitlingDescriptor);
                return;
            }
            if (findDescriptor(s, descriptors, infoEnd, kTeletextDescriptor) >= 0 ||
                findDescriptor(s, descriptors, infoEnd, kVbiTeletextDescriptor) >= 0) {
                const int tag = findDescriptor(s, descriptors, infoEnd, kTeletextDescriptor) >= 0
                                    ? kTeletextDescriptor
                                    : kVbiTeletextDescriptor;
                e.streamType = kStreamPrivateOther;
                e.codec = StreamCodec::Teletext;
                e.language = descriptorLanguage(s, descriptors, infoEnd, tag);
                return;
            }
            e.language = entryLanguage(s, entry, infoEnd, e.streamType);
            if (isOtherPrivateData(s, entry, infoEnd)) e.streamType = kStreamPrivateOther;
            e.codec = e.streamType == kStreamAC3 ? StreamCodec::Ac3 : StreamCodec::Unknown;
            return;
        case kStreamAtscAc3:
            e.streamType = kStreamAC3;
            e.codec = StreamCodec::Ac3;
            e.language = descriptorLanguage(s, descriptors, infoEnd, kLanguageDescriptor, "std");
            return;
        case kStreamVideo:
        case kStreamMpeg1Audio:
        case kStreamMpeg2Audio:
        case kStreamH264:
        case kStreamHevc:
            e.language = entryLanguage(s, entry, infoEnd, e.streamType);
            e.codec = EntryCodec(e);
            return;
        default:
            break;
    }
    e.codec = EntryCodec(e);
    if (!IsAudio(e.streamType)) {
        e.language = "???";
        return;
    }
    e.language = supplementaryLanguage(s, descriptors, infoEnd);
    if (e.language.empty())
        e.language = descriptorLanguage(s, descriptors, infoEnd, kLanguageDescriptor, "std");
}

// DVB's supplementary audio descriptor (an extension descriptor) may name
// the language of its stream; that name goes before the ISO 639 one.
std::string CPmtParser::supplementaryLanguage(const std::uint8_t* s, int from, int end) {
    for (int at = from; at + 2 <= end && at + 2 + s[at + 1] <= end; at += 2 + s[at + 1]) {
        const int length = s[at + 1];
        if (s[at] != kExtensionDescriptor || length < 5 || s[at + 2] != kSupplementaryAudio)
            continue;
        const bool languagePresent = (s[at + 3] & 0x01) != 0;
        if (languagePresent && isLanguageLetter(s[at + 4]) && isLanguageLetter(s[at + 5]) &&
            isLanguageLetter(s[at + 6]))
            return std::string(reinterpret_cast<const char*>(s + at + 4), 3);
    }
    return {};
}

// Receivers put the ISO 639 language descriptor second, behind one other
// descriptor; failing that, the first run of three letters of the entry is
// taken for the audio streams.
std::string CPmtParser::entryLanguage(const std::uint8_t* s, int entry, int infoEnd,
                                      std::int32_t type) {
    std::string language = "???";
    if (infoEnd > entry + kEntryHeader + 1) {
        const int at = entry + 9 + s[entry + 6];
        if (at + 3 <= infoEnd && isLanguageLetter(s[at]) && isLanguageLetter(s[at + 1]) &&
            isLanguageLetter(s[at + 2]))
            return std::string(reinterpret_cast<const char*>(s + at), 3);
    }
    if (!IsMpegAudio(type) && type != kStreamAC3) return language;
    // The search stays inside the entry: running on into the next entries
    // would give a stream without a language descriptor its neighbour's.
    language = "std";
    for (int i = entry; i + 3 <= infoEnd; ++i) {
        auto letter = [](std::uint8_t c) { return c >= 'A' && c < 128; };
        if (letter(s[i]) && letter(s[i + 1]) && letter(s[i + 2]))
            return std::string(reinterpret_cast<const char*>(s + i), 3);
    }
    return language;
}

// Private data that is not AC-3: a teletext descriptor (tag 0x56) second, or
// a first descriptor longer than the 4 bytes of a language descriptor (the
// teletext and subtitling descriptors are).
bool CPmtParser::isOtherPrivateData(const std::uint8_t* s, int entry, int infoEnd) {
    if (infoEnd < entry + kEntryHeader + 2) return false;  // no descriptor at all
    const int firstLength = s[entry + 6];
    if (firstLength > 4) return true;
    const int secondTag = entry + 7 + firstLength;
    return secondTag < infoEnd && s[secondTag] == 0x56;
}

int CPmtParser::findDescriptor(const std::uint8_t* s, int from, int end, int tag) {
    for (int at = from; at + 2 <= end; at += 2 + s[at + 1]) {
        if (at + 2 + s[at + 1] > end) return -1;  // runs past the entry: damaged
        if (s[at] == tag) return at;
    }
    return -1;
}

// The first ISO 639 code in a descriptor that carries one (language,
// subtitling and teletext descriptors start their loops with it).
std::string CPmtParser::descriptorLanguage(const std::uint8_t* s, int from, int end, int tag,
                                           const char* fallback) {
    const int at = findDescriptor(s, from, end, tag);
    if (at >= 0 && s[at + 1] >= 3 && isLanguageLetter(s[at + 2]) && isLanguageLetter(s[at + 3]) &&
        isLanguageLetter(s[at + 4]))
        return std::string(reinterpret_cast<const char*>(s + at + 2), 3);
    if (tag != kLanguageDescriptor)
        return descriptorLanguage(s, from, end, kLanguageDescriptor, fallback);
    return fallback;
}
