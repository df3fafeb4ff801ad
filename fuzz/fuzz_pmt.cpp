// The PMT parser on arbitrary sections of any length.

#include <cstdint>
#include <vector>

#include "demux/pmt_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A copy of exactly the bytes given, so that any read past them is seen.
    std::vector<std::uint8_t> section(data, data + size);
    const int length = static_cast<int>(section.size());
    CPMT pmt;
    CPmtParser parser(pmt);
    parser.OnPMTSection(section.data(), length);
    parser.OnPMTSection(section.data(), length);
    CPMT direct;
    if (CPmtParser::IsPMTSection(section.data(), length))
        CPmtParser::ParsePMT(direct, section.data(), length);
    // Private data that is no AC-3 is listed only as subtitles or teletext;
    // every entry has a codec.
    for (const sPMTEntry& e : direct) {
        const bool listedPrivate =
            e.codec == StreamCodec::DvbSubtitle || e.codec == StreamCodec::Teletext;
        if ((e.streamType == kStreamPrivateOther) != listedPrivate || e.pid > 0x1FFF ||
            e.codec == StreamCodec::Unknown || e.language.size() != 3)
            __builtin_trap();
    }
    return 0;
}
