// Sequence-level headers of H.264 and HEVC: what ffprobe says about
// encoder output, and hand-made parameter sets for what encoders seldom
// write (scaling lists, POC type 1, predicted reference picture sets,
// extended sample aspect) and for damage.

#include <gtest/gtest.h>

#include "bit_writer.h"
#include "codec/h264_access_unit_scanner.h"
#include "codec/h264_parameter_sets.h"
#include "codec/hevc_access_unit_scanner.h"
#include "codec/hevc_parameter_sets.h"
#include "support/hd_media.h"
#include "support/temp_dir.h"

using codec::ParseResult;
using codec::VideoFormat;

namespace {

VideoFormat formatOfStream(const std::string& recording, bool hevc) {
    const auto es = ReadFileBytes(hdmedia::VideoElementaryStream(recording));
    std::unique_ptr<codec::IAccessUnitScanner> scanner;
    if (hevc)
        scanner = std::make_unique<codec::HevcAccessUnitScanner>();
    else
        scanner = std::make_unique<codec::H264AccessUnitScanner>();
    scanner->Feed(es.data(), es.size());
    scanner->Finish();
    const auto format = scanner->Format();
    return format ? *format : VideoFormat{};
}

void expectAsFfprobe(const VideoFormat& f, const std::string& recording) {
    auto probe = hdmedia::StreamFields(recording, "v:0");
    EXPECT_EQ(std::to_string(f.width), probe["width"]);
    EXPECT_EQ(std::to_string(f.height), probe["height"]);
    EXPECT_EQ(codec::RatioText(f.displayAspect, ':'), probe["display_aspect_ratio"]);
    EXPECT_EQ(codec::RatioText(f.frameRate, '/'), probe["r_frame_rate"]);
    EXPECT_EQ(f.profile, probe["profile"]);
    EXPECT_EQ(std::to_string(f.level), probe["level"]);
    const std::string order = probe["field_order"];
    EXPECT_EQ(f.interlaced, order == "tt" || order == "bb" || order == "tb" || order == "bt")
        << order;
}

TEST(ParameterSets, H264InterlacedAsFfprobeSeesIt) {
    const std::string recording = hdmedia::H264Interlaced();
    const VideoFormat f = formatOfStream(recording, false);
    EXPECT_EQ(f.codec, StreamCodec::H264);
    EXPECT_EQ(f.aspectCode, 3);
    EXPECT_TRUE(f.interlaced);
    expectAsFfprobe(f, recording);
}

TEST(ParameterSets, HevcAsFfprobeSeesIt) {
    const std::string open = hdmedia::HevcOpenGop();
    const VideoFormat f = formatOfStream(open, true);
    EXPECT_EQ(f.codec, StreamCodec::Hevc);
    EXPECT_EQ(f.bitDepth, 8);
    expectAsFfprobe(f, open);
    const std::string closed = hdmedia::HevcClosedGop10Bit();
    const VideoFormat ten = formatOfStream(closed, true);
    EXPECT_EQ(ten.bitDepth, 10);
    EXPECT_EQ(ten.profile, "Main 10");
    expectAsFfprobe(ten, closed);
}

TEST(ParameterSets, H264OfARealBroadcast) {
    // The sequence parameter set of the satellite capture (High@4.0, 1080i,
    // VUI with square samples and 25 frames per second), escaped as sent.
    const std::vector<std::uint8_t> sps = {
        0x64, 0x00, 0x28, 0xac, 0x72, 0x14, 0x07, 0x80, 0x44, 0x7d, 0xe0, 0x2d, 0x10, 0x00,
        0x00, 0x03, 0x00, 0x10, 0x00, 0x00, 0x03, 0x03, 0x29, 0xcb, 0x1c, 0x30, 0x85, 0x80};
    codec::h264::Sps parsed;
    ASSERT_EQ(codec::h264::ParseSps(sps.data(), sps.size(), parsed), ParseResult::Ok);
    const VideoFormat f = parsed.Format();
    EXPECT_EQ(f.width, 1920);
    EXPECT_EQ(f.height, 1080);
    EXPECT_EQ(f.profile, "High");
    EXPECT_EQ(f.level, 40);
    EXPECT_TRUE(f.interlaced);
    EXPECT_EQ(f.sampleAspect, (codec::Ratio{1, 1}));
    EXPECT_EQ(f.displayAspect, (codec::Ratio{16, 9}));
    EXPECT_EQ(f.frameRate, (codec::Ratio{25, 1}));
}

// A High profile SPS of 1440x1080 (cropped from 1088), scaling lists sent,
// POC type 1, extended sample aspect 4:3 and 50 fields per second.
BitWriter anamorphicSps(bool withScalingLists) {
    BitWriter w;
    w.Byte(100).Byte(0).Byte(40).Ue(1);  // profile, constraints, level, id
    w.Ue(1).Ue(0).Ue(0).Flag(false);     // 4:2:0, 8 bits, no bypass
    w.Flag(withScalingLists);
    if (withScalingLists) {
        for (int i = 0; i < 8; ++i) {
            w.Flag(i % 3 == 0);
            if (i % 3 != 0) continue;
            for (int j = 0; j < (i < 6 ? 16 : 64); ++j)
                w.Se(j == 0 ? 8 : (j % 2 ? 1 : -1));
        }
    }
    w.Ue(0);                                 // log2_max_frame_num_minus4
    w.Ue(1).Flag(false).Se(-2).Se(1).Ue(3);  // POC type 1, cycle of 3
    w.Se(2).Se(-3).Se(4);
    w.Ue(4).Flag(false).Ue(89).Ue(33);               // refs, gaps, 90 x 34 map units
    w.Flag(false).Flag(true).Flag(true);             // fields (MBAFF), direct 8x8
    w.Flag(true).Ue(0).Ue(0).Ue(0).Ue(2);            // crop 8 lines: units of 4 in field coding
    w.Flag(true);                                    // VUI
    w.Flag(true).Byte(255).Bits(4, 16).Bits(3, 16);  // extended SAR 4:3
    w.Flag(false).Flag(true).Bits(5, 3).Flag(false).Flag(true).Byte(1).Byte(1).Byte(1);
    w.Flag(false).Flag(true).Bits(1, 32).Bits(50, 32).Flag(true);  // timing
    w.Flag(false).Flag(false).Flag(false).Flag(false);
    w.Trailing();
    return w;
}

TEST(ParameterSets, H264FieldsBehindScalingListsAndPocCycles) {
    for (bool lists : {false, true}) {
        SCOPED_TRACE(lists);
        const auto bytes = anamorphicSps(lists).Escaped();
        codec::h264::Sps sps;
        ASSERT_EQ(codec::h264::ParseSps(bytes.data(), bytes.size(), sps), ParseResult::Ok);
        EXPECT_EQ(sps.id, 1);
        EXPECT_EQ(sps.pocType, 1);
        const VideoFormat f = sps.Format();
        EXPECT_EQ(f.width, 1440);
        EXPECT_EQ(f.height, 1080);  // 2 x 34 x 16 less 8 cropped
        EXPECT_EQ(f.sampleAspect, (codec::Ratio{4, 3}));
        EXPECT_EQ(f.displayAspect, (codec::Ratio{16, 9}));
        EXPECT_EQ(f.aspectCode, 3);
        EXPECT_EQ(f.frameRate, (codec::Ratio{25, 1}));
        EXPECT_EQ(f.matrixCoefficients, 1);
        EXPECT_TRUE(f.interlaced);
    }
}

TEST(ParameterSets, DamagedH264SetsAreRefused) {
    const auto whole = anamorphicSps(true).Escaped();
    codec::h264::Sps sps;
    // Cut inside the scaling lists: nothing usable.
    EXPECT_EQ(codec::h264::ParseSps(whole.data(), 20, sps), ParseResult::Broken);
    // Cut inside the VUI: the picture's size still stands.
    EXPECT_EQ(codec::h264::ParseSps(whole.data(), whole.size() - 12, sps), ParseResult::Ok);
    EXPECT_EQ(sps.Width(), 1440);
    // A width of 70,000 macroblocks, and a crop larger than the picture.
    BitWriter wide;
    wide.Byte(77).Byte(0).Byte(40).Ue(0).Ue(0).Ue(0).Ue(0).Ue(0).Flag(false).Ue(70000).Ue(10);
    wide.Flag(true).Flag(false).Flag(false).Trailing();
    auto bytes = wide.Escaped();
    EXPECT_EQ(codec::h264::ParseSps(bytes.data(), bytes.size(), sps), ParseResult::Broken);
    BitWriter cropped;
    cropped.Byte(77).Byte(0).Byte(40).Ue(0).Ue(0).Ue(0).Ue(0).Ue(0).Flag(false).Ue(9).Ue(9);
    cropped.Flag(true).Flag(false).Flag(true).Ue(40).Ue(40).Ue(0).Ue(0).Flag(false).Trailing();
    bytes = cropped.Escaped();
    EXPECT_EQ(codec::h264::ParseSps(bytes.data(), bytes.size(), sps), ParseResult::Broken);
    // A scaling-list delta far outside -128..127 (it once overflowed the
    // running scale).
    BitWriter lists;
    lists.Byte(100).Byte(0).Byte(40).Ue(0).Ue(1).Ue(0).Ue(0).Flag(false).Flag(true);
    lists.Flag(true).Se(5).Ue(4294967039u).Trailing();  // se(v) of +2,147,483,520
    bytes = lists.Escaped();
    EXPECT_EQ(codec::h264::ParseSps(bytes.data(), bytes.size(), sps), ParseResult::Broken);
    codec::h264::Pps pps;
    const std::vector<std::uint8_t> noPps = {0x00, 0x00};
    EXPECT_EQ(codec::h264::ParsePps(noPps.data(), noPps.size(), pps), ParseResult::Broken);
}

// profile_tier_level of one sub-layer: Main, level 4.1.
void mainProfile(BitWriter& w) {
    w.Bits(0, 2).Flag(false).Bits(1, 5).Bits(0x60000000, 32);
    w.Flag(true).Flag(false).Flag(false).Flag(true).Bits(0, 43).Flag(false).Byte(123);
}

// An HEVC SPS of 1920x1080 (cropped from 1088) whose reference picture sets
// are predicted from each other, with scaling lists, long-term references
// and a VUI of 4:3 samples at 50 pictures per second.
BitWriter hevcSps() {
    BitWriter w;
    w.Bits(0, 4).Bits(0, 3).Flag(true);  // VPS 0, one sub-layer
    mainProfile(w);
    w.Ue(3).Ue(1).Ue(1920).Ue(1088);  // id 3, 4:2:0
    w.Flag(true).Ue(0).Ue(0).Ue(0).Ue(4);
    w.Ue(0).Ue(0).Ue(4);                    // 8 bits, POC lsb of 8 bits
    w.Flag(true).Ue(4).Ue(2).Ue(0);         // ordering info
    w.Ue(0).Ue(3).Ue(0).Ue(3).Ue(2).Ue(2);  // block sizes, depths
    w.Flag(true).Flag(true);                // scaling list data sent
    for (int size = 0; size < 4; ++size)
        for (int matrix = 0; matrix < 6; matrix += size == 3 ? 3 : 1) {
            const bool explicitList = (size + matrix) % 2 == 0;
            w.Flag(explicitList);
            if (!explicitList) {
                w.Ue(0);
                continue;
            }
            if (size > 1) w.Se(-3);
            for (int i = 0; i < std::min(64, 1 << (4 + 2 * size)); ++i)
                w.Se(i % 5 - 2);
        }
    w.Flag(true).Flag(true).Flag(false);                                // AMP, SAO, no PCM
    w.Ue(3);                                                            // three short-term sets
    w.Ue(2).Ue(1).Ue(0).Flag(true).Ue(1).Flag(true).Ue(0).Flag(false);  // 2 before, 1 after
    // Set 1 from set 0 (3 deltas): 4 flags, two of them with use_delta_flag.
    w.Flag(true).Flag(false).Ue(0);
    w.Flag(true).Flag(false).Flag(true).Flag(false).Flag(false).Flag(true);
    // Set 2 from set 1, whose count is 3 again.
    w.Flag(true).Flag(true).Ue(1);
    w.Flag(false).Flag(false).Flag(true).Flag(true).Flag(false).Flag(true);
    w.Flag(true).Ue(2).Bits(5, 8).Flag(true).Bits(9, 8).Flag(false);  // long-term pictures
    w.Flag(true).Flag(true);                                          // TMVP, smoothing
    w.Flag(true);                                                     // VUI
    w.Flag(true).Byte(14);                                            // 4:3 samples
    w.Flag(false).Flag(true).Bits(5, 3).Flag(false).Flag(true).Byte(1).Byte(1).Byte(1);
    w.Flag(false).Flag(false).Flag(false).Flag(false).Flag(false);
    w.Flag(true).Bits(1, 32).Bits(50, 32).Flag(false).Flag(false);  // timing, no HRD
    w.Flag(false).Flag(false).Flag(false).Trailing();
    return w;
}

TEST(ParameterSets, HevcFieldsBehindPredictedReferenceSets) {
    const auto bytes = hevcSps().Escaped();
    codec::hevc::Sps sps;
    ASSERT_EQ(codec::hevc::ParseSps(bytes.data(), bytes.size(), sps), ParseResult::Ok);
    EXPECT_EQ(sps.id, 3);
    EXPECT_EQ(sps.log2MaxPocLsb, 8);
    const VideoFormat f = sps.Format(nullptr);
    EXPECT_EQ(f.width, 1920);
    EXPECT_EQ(f.height, 1080);
    EXPECT_EQ(f.profile, "Main");
    EXPECT_EQ(f.level, 123);
    // The VUI is read right only when every set before it was.
    EXPECT_EQ(f.sampleAspect, (codec::Ratio{4, 3}));
    EXPECT_EQ(f.displayAspect, (codec::Ratio{64, 27}));
    EXPECT_EQ(f.frameRate, (codec::Ratio{50, 1}));
    EXPECT_EQ(f.matrixCoefficients, 1);

    // The frame rate from the VPS when the SPS has none.
    codec::hevc::Vps vps;
    vps.numUnitsInTick = 1001;
    vps.timeScale = 60000;
    sps.numUnitsInTick = 0;
    EXPECT_EQ(sps.Format(&vps).frameRate, (codec::Ratio{60000, 1001}));

    // Cut behind the picture size: the size stands, the VUI is not guessed.
    codec::hevc::Sps cut;
    ASSERT_EQ(codec::hevc::ParseSps(bytes.data(), 30, cut), ParseResult::Ok);
    EXPECT_EQ(cut.CroppedHeight(), 1080);
    EXPECT_FALSE(cut.sampleAspect.Known());
    EXPECT_EQ(codec::hevc::ParseSps(bytes.data(), 8, cut), ParseResult::Broken);
}

}  // namespace
