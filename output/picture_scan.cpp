#include "output/picture_scan.h"

#include "demux/start_code.h"

namespace {
constexpr std::uint8_t kPictureStart = 0x00;
constexpr std::uint8_t kExtensionStart = 0xB5;
constexpr std::uint8_t kSequenceHeader = 0xB3;
constexpr std::uint8_t kGroupStart = 0xB8;
constexpr std::uint8_t kPictureCodingExtension = 8;  // extension_start_code_identifier

// ISO/IEC 13818-2 table 6-4: frame_rate_code 1..8 as frames per second (num / den).
constexpr std::int64_t kRates[9][2] = {{0, 1},     {24000, 1001}, {24, 1},      {25, 1},   {30000, 1001},
                                       {30, 1},    {50, 1},       {60000, 1001}, {60, 1}};
}  // namespace

// The demultiplexer's start-code search: a leaf of its own, many bytes at a time.
std::size_t CPictureScan::NextStartCode(const std::uint8_t* es, std::size_t n, std::size_t from) {
    const std::size_t at = FindStartCodePrefix(es, n, from);
    return at == mpeg::kNotFound ? n : at;
}

std::vector<sPictureInfo> CPictureScan::Pictures(const std::uint8_t* es, std::size_t n) {
    std::vector<sPictureInfo> pictures;
    // Where the access unit of the next picture begins: the sequence or GOP
    // header that comes before it, else its own start code.
    std::size_t unitStart = 0;
    bool headerSeen = false;
    for (std::size_t at = NextStartCode(es, n, 0); at < n; at = NextStartCode(es, n, at + 3)) {
        const std::uint8_t code = es[at + 3];
        if ((code == kSequenceHeader || code == kGroupStart) && !headerSeen) {
            unitStart = at;
            headerSeen = true;
        } else if (code == kPictureStart) {
            sPictureInfo p;
            p.offset = static_cast<std::int32_t>(pictures.empty() ? 0 : (headerSeen ? unitStart : at));
            if (at + 6 <= n) {
                p.tref = (es[at + 4] << 2) | (es[at + 5] >> 6);
                p.type = static_cast<std::uint8_t>((es[at + 5] >> 3) & 7);
            }
            pictures.push_back(p);
            headerSeen = false;
        } else if (code == kExtensionStart && !pictures.empty() && at + 7 <= n &&
                   (es[at + 4] >> 4) == kPictureCodingExtension) {
            // picture_structure: 1 top field, 2 bottom field, 3 frame.
            const int structure = es[at + 6] & 3;
            pictures.back().field = structure == 1 || structure == 2;
        }
    }
    if (pictures.empty()) pictures.push_back(sPictureInfo{});
    return pictures;
}

bool CPictureScan::FramePeriod(const std::uint8_t* es, std::size_t n, std::int64_t& num,
                               std::int64_t& den) {
    const std::size_t at = NextStartCode(es, n, 0);
    if (at + 8 > n || es[at + 3] != kSequenceHeader) return false;
    const int code = es[at + 7] & 0x0F;
    if (code < 1 || code > 8) return false;
    num = 90000 * kRates[code][1];
    den = kRates[code][0];
    return true;
}
