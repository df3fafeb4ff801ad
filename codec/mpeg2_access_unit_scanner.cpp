#include "codec/mpeg2_access_unit_scanner.h"

#include "demux/start_code.h"
#include "mpegsnap/bit_reader.h"

namespace codec {

namespace {
constexpr std::uint8_t kExtensionCode = 0xB5;
constexpr int kSequenceExtensionId = 1;

// ISO/IEC 13818-2 table 6-4: frame_rate_code 1..8.
constexpr Ratio kFrameRates[9] = {{0, 0},  {24000, 1001}, {24, 1},       {25, 1}, {30000, 1001},
                                  {30, 1}, {50, 1},       {60000, 1001}, {60, 1}};
// profile_and_level_indication: the profile is bits 6..4, the level 3..0.
const char* profileName(int profile) {
    switch (profile) {
        case 1:
            return "High";
        case 2:
            return "Spatially Scalable";
        case 3:
            return "SNR Scalable";
        case 4:
            return "Main";
        case 5:
            return "Simple";
        default:
            return "";
    }
}

// aspect_ratio_information: the display aspect of codes 2 to 4 (MPEG-2);
// code 1 means square samples.
Ratio displayAspectOfCode(int code, int width, int height) {
    switch (code) {
        case 2:
            return {4, 3};
        case 3:
            return {16, 9};
        case 4:
            return {221, 100};
        case 1:
            return DisplayAspect(width, height, {1, 1});
        default:
            return {};
    }
}
// The sequence extension (its bytes behind the B5 code) refines a format
// read from the sequence header: size extension, interlacing, chroma, frame
// rate extension, profile and level.
// Zero bytes at its end may have been taken for stuffing before the next
// start code: the reader gives zeros past the bytes held.
void applySequenceExtension(VideoFormat& f, const std::uint8_t* ext, std::size_t size) {
    if (size < 1 || (ext[0] >> 4) != kSequenceExtensionId) return;
    mpegsnap::BitReader e(ext, size);
    e.Skip(4);  // extension id
    const auto profileLevel = static_cast<int>(e.Get(8));
    f.interlaced = !e.GetBit();  // progressive_sequence
    f.chromaFormat = static_cast<int>(e.Get(2));
    f.width |= static_cast<int>(e.Get(2)) << 12;
    f.height |= static_cast<int>(e.Get(2)) << 12;
    e.Skip(12 + 1 + 8 + 1);  // bit rate extension, marker, vbv, low_delay
    const auto rateN = static_cast<int>(e.Get(2));
    const auto rateD = static_cast<int>(e.Get(5));
    if (f.frameRate.Known())
        f.frameRate = Reduced(static_cast<std::int64_t>(f.frameRate.num) * (rateN + 1),
                              static_cast<std::int64_t>(f.frameRate.den) * (rateD + 1));
    f.profile = profileName((profileLevel >> 4) & 7);
    f.level = profileLevel & 0x0F;
}
}  // namespace

std::optional<VideoFormat> Mpeg2FormatOf(const std::uint8_t* p, std::size_t size) {
    if (size < 12 || p[0] != 0 || p[1] != 0 || p[2] != 1 || p[3] != mpeg::kSequenceHeaderCode)
        return std::nullopt;
    mpegsnap::BitReader r(p + 4, size - 4);
    VideoFormat f;
    f.codec = StreamCodec::Mpeg2Video;
    f.width = static_cast<int>(r.Get(12));
    f.height = static_cast<int>(r.Get(12));
    f.aspectCode = static_cast<int>(r.Get(4));
    const auto rateCode = static_cast<int>(r.Get(4));
    if (f.width == 0 || f.height == 0) return std::nullopt;
    f.displayAspect = displayAspectOfCode(f.aspectCode, f.width, f.height);
    if (f.aspectCode < 1 || f.aspectCode > 4) f.aspectCode = 0;
    if (f.displayAspect.Known())
        f.sampleAspect = Reduced(static_cast<std::int64_t>(f.displayAspect.num) * f.height,
                                 static_cast<std::int64_t>(f.displayAspect.den) * f.width);
    if (rateCode >= 1 && rateCode <= 8) f.frameRate = kFrameRates[rateCode];
    // The sequence extension: the first extension start code behind the
    // header (quantiser matrices may come between).
    const std::size_t ext = FindStartCode(p, size, 4, kExtensionCode);
    if (ext != mpeg::kNotFound) applySequenceExtension(f, p + ext + 4, size - ext - 4);
    return f;
}

void Mpeg2AccessUnitScanner::onUnit(const StartCodeUnit& unit) {
    if (unit.size < 1) return;
    const std::uint8_t code = unit.data[0];
    const bool header = code == mpeg::kSequenceHeaderCode || code == mpeg::kGroupStartCode ||
                        code == mpeg::kPictureStartCode;
    if (header && beginsAccessUnit()) {
        startAccessUnit(unit.offset);
        m_unitHasSequence = false;
    }
    if (code == mpeg::kSequenceHeaderCode) {
        m_unitHasSequence = true;
        // The format is read once the extension behind the header is here.
        std::vector<std::uint8_t> bytes = {0, 0, 1};
        bytes.insert(bytes.end(), unit.data, unit.data + unit.size);
        m_format = Mpeg2FormatOf(bytes.data(), bytes.size());
        m_expectExtension = true;
    } else if (code == kExtensionCode && m_expectExtension && m_format) {
        applySequenceExtension(*m_format, unit.data + 1, unit.size - 1);
        m_expectExtension = false;
    } else if (code == mpeg::kGroupStartCode && unit.size >= 5) {
        // closed_gop and broken_link follow the 25-bit time code.
        m_closedGop = (unit.data[4] & 0x40) != 0;
        m_brokenLink = (unit.data[4] & 0x20) != 0;
    } else if (code == mpeg::kPictureStartCode) {
        m_expectExtension = false;
        onPicture(unit);
    }
}

void Mpeg2AccessUnitScanner::onPicture(const StartCodeUnit& unit) {
    m_unitHasPicture = true;
    AccessUnit au;
    au.offset = m_unitStart;
    au.decodable = unit.size >= 3;
    if (unit.size >= 3) {
        const int temporalReference = (unit.data[1] << 2) | (unit.data[2] >> 6);
        au.pictureType = (unit.data[2] >> 3) & 7;
        if (au.pictureType == 1 && m_unitHasSequence) {
            au.randomAccess = RandomAccess::SequenceHeader;
            m_inLeadingRun = true;
            m_runDecodable = m_closedGop && !m_brokenLink;
            m_rapTemporalReference = temporalReference;
        } else if (m_inLeadingRun && au.pictureType == 3 &&
                   temporalReference < m_rapTemporalReference) {
            au.leading = true;
            au.leadingDecodable = m_runDecodable;
        } else {
            m_inLeadingRun = false;
        }
    }
    m_units.push_back(au);
}

}  // namespace codec
