// The navigation step rules and the information box text.
#include <gtest/gtest.h>

#include "app/qt/info_text.h"
#include "app/qt/navigation_steps.h"

TEST(NavigationSteps, SmallStepsFollowTheBitRateAndGrowWithCtrlUpToTheCap) {
    std::uint32_t last = 192;
    EXPECT_EQ(nav::SmallBackwardStep(1, false, 4000, last), 550u);  // 500 * 1.1
    EXPECT_EQ(last, 550u);
    EXPECT_EQ(nav::SmallForwardStep(1, false, 4000, last), 100u);  // 500 * 0.2
    EXPECT_EQ(last, 100u);
    // With Ctrl: the last bit-rate step times 2^(n/5), the last step unchanged.
    EXPECT_EQ(nav::SmallForwardStep(4, true, 4000, last), 100u);
    EXPECT_EQ(nav::SmallForwardStep(5, true, 4000, last), 200u);
    EXPECT_EQ(nav::SmallBackwardStep(12, true, 4000, last), 400u);
    EXPECT_EQ(nav::SmallBackwardStep(-12, true, 4000, last), 400u);
    EXPECT_EQ(last, 100u);
    EXPECT_EQ(nav::SmallForwardStep(60, true, 4000, last), 30000u);
    EXPECT_EQ(nav::SmallBackwardStep(60, true, 4000, last), 30000u);
}

TEST(NavigationSteps, HoldingWithCtrlForeverNeverOverflows) {
    // Counts that grow for minutes (10 ms each) must keep every step at its cap.
    std::uint32_t last = 550;
    for (std::int64_t n : {150, 160, 320, 1000, 100000, INT32_MAX}) {
        EXPECT_EQ(nav::SmallForwardStep(n, true, 4000, last), 30000u) << n;
        EXPECT_EQ(nav::SmallBackwardStep(n, true, 4000, last), 30000u) << n;
        EXPECT_EQ(nav::LargeForwardTarget(0, n, true, 10000000), 600000u) << n;
        EXPECT_EQ(nav::LargeBackwardTarget(10000000, n, true), 10000000u - 600192u) << n;
    }
    EXPECT_EQ(nav::LargeBackwardTarget(10000000, INT64_MIN, true), 10000000u - 600192u);
    EXPECT_EQ(nav::GrowthFactor(INT64_MIN), std::uint64_t{1} << nav::kMaxExponent);
}

TEST(NavigationSteps, LargeStepsAndTheirClamps) {
    EXPECT_EQ(nav::LargeBackwardTarget(20000, 0, false), 0u);  // 20,000 is not above 30,192
    EXPECT_EQ(nav::LargeBackwardTarget(30193, 1, false), 1u);
    EXPECT_EQ(nav::LargeBackwardTarget(1000000, 10, true), 1000000u - (4 * 30000 + 192));
    EXPECT_EQ(nav::LargeBackwardTarget(100000, 10, true), 0u);
    EXPECT_EQ(nav::LargeBackwardTarget(1000000, -3, true), 1000000u - (3 * 30000 + 192));
    EXPECT_EQ(nav::LargeBackwardTarget(1000000, 10, false), 1000000u - 30192);
    EXPECT_EQ(nav::LargeForwardTarget(0, 0, false, 100000), 30000u);
    EXPECT_EQ(nav::LargeForwardTarget(90000, 1, false, 100000), 99999u);  // the last sector
    EXPECT_EQ(nav::LargeForwardTarget(0, 5, true, 10000000), 60000u);
    EXPECT_EQ(nav::LargeForwardTarget(0, 1, true, 0), 0u);
}

TEST(NavigationSteps, WheelWithCtrlMovesTenSecondsWithShiftAHundred) {
    // 4000 kbit/s = 500,000 bytes/s: 10 s are 9765 sectors.
    EXPECT_EQ(nav::WheelTarget(100000, -120, false, 4000, 1000000), 109765u);
    EXPECT_EQ(nav::WheelTarget(100000, 120, false, 4000, 1000000), 90235u);
    EXPECT_EQ(nav::WheelTarget(100000, 120, true, 4000, 1000000), 2344u);  // 97,656 sectors
    EXPECT_EQ(nav::WheelTarget(97656, 120, true, 4000, 1000000), 0u);
    EXPECT_EQ(nav::WheelTarget(995000, -120, false, 4000, 1000000), 999999u);
}

namespace {
// A sequence header for width x height with an aspect code.
std::array<std::uint8_t, 12> Header(int width, int height, int aspect) {
    return {0x00,
            0x00,
            0x01,
            0xB3,
            static_cast<std::uint8_t>(width >> 4),
            static_cast<std::uint8_t>(((width & 0xF) << 4) | (height >> 8)),
            static_cast<std::uint8_t>(height & 0xFF),
            static_cast<std::uint8_t>((aspect << 4) | 3),
            0,
            0,
            0,
            0};
}
}  // namespace

TEST(InfoText, LinesForAGermanMpeg2TrackAndAStereoAc3Track) {
    CPMT streams(3);
    streams[0].streamType = kStreamVideo;
    streams[0].pid = 0x100;
    streams[1].streamType = kStreamMpeg2Audio;
    streams[1].pid = 0x101;
    streams[1].language = "deu";
    streams[1].sampleRate = 48000;
    streams[1].mpegBitRate = 192;
    streams[2].streamType = kStreamAC3;
    streams[2].pid = 0x102;
    streams[2].language = "eng";
    streams[2].sampleRate = 48000;
    streams[2].ac3BitRate = 384;
    streams[2].ac3CodingMode = 2;
    const InfoText info = BuildInfoText(3u << 20, 4000, Header(720, 576, 3), streams);
    EXPECT_EQ(info.text,
              "File size:\t3MB\r\n"
              "Bitrate:\t3.9MBit/s\r\n"
              "Resolution:\t720x576\r\n"
              "Aspect Ratio:\t16:9\r\n"
              "Audio Tracks:\r\n"
              "  MPEG2 \t(deu, 192kBit/s)\r\n"
              "  AC3 2.0\t(eng, 384kBit/s)\r\n");
    ASSERT_EQ(info.audioEntries.size(), 1u);  // AC-3 is not offered
    EXPECT_EQ(info.audioEntries[0].first, "MPEG2  (deu, 192kBit/s)");
    EXPECT_EQ(info.audioEntries[0].second, 0x101);
}

TEST(InfoText, AudioCodecsOfHdRecordingsAreListedAndOffered) {
    CPMT streams(4);
    streams[0].streamType = kStreamH264;
    streams[1].streamType = kStreamEac3;
    streams[1].pid = 0x102;
    streams[1].language = "eng";
    streams[1].sampleRate = 48000;
    streams[1].ac3BitRate = 448;
    streams[1].layout = "5.1";
    streams[2].streamType = kStreamAacAdts;
    streams[2].pid = 0x103;
    streams[2].language = "deu";
    streams[2].sampleRate = 48000;
    streams[2].layout = "2.0";
    streams[3].streamType = kStreamPrivateOther;  // subtitles: no audio line
    streams[3].codec = StreamCodec::DvbSubtitle;
    streams[3].sampleRate = 0;
    const InfoText info = BuildInfoText(0, 12288, Header(1920, 1080, 3), streams);
    EXPECT_NE(info.text.find("Bitrate:\t12.0MBit/s\r\nResolution:\t1920x1080\r\nAspect Ratio:\t16:9"),
              std::string::npos)
        << info.text;
    EXPECT_NE(info.text.find("  E-AC3 5.1\t(eng, 448kBit/s)\r\n  AAC 2.0\t(deu, 48kHz)\r\n"),
              std::string::npos)
        << info.text;
    ASSERT_EQ(info.audioEntries.size(), 2u);
    EXPECT_EQ(info.audioEntries[0].first, "E-AC3 5.1 (eng, 448kBit/s)");
    EXPECT_EQ(info.audioEntries[1].second, 0x103);
}

TEST(InfoText, ChannelLayoutsAspectCodesAndUnreadTracks) {
    CPMT streams(2);
    streams[0].streamType = kStreamAC3;
    streams[0].language = "deu";
    streams[0].sampleRate = 48000;
    streams[0].ac3BitRate = 448;
    streams[0].ac3CodingMode = 7;
    streams[0].ac3Lfe = 1;
    streams[1].streamType = kStreamMpeg1Audio;  // no frame header read yet: no line
    const InfoText info = BuildInfoText(0, 4000, Header(352, 288, 1), streams);
    EXPECT_NE(info.text.find("Resolution:\t352x288\r\n"), std::string::npos);
    EXPECT_NE(info.text.find("Aspect Ratio:\t\r\n"), std::string::npos);
    EXPECT_NE(info.text.find("  AC3 5.1\t(deu, 448kBit/s)\r\n"), std::string::npos);
    EXPECT_EQ(info.text.find("MPEG1"), std::string::npos);
    EXPECT_TRUE(info.audioEntries.empty());
    EXPECT_EQ(AspectCode(Header(720, 576, 2)), 2);
    EXPECT_NE(BuildInfoText(0, 4000, Header(720, 576, 4), {}).text.find("22:10"),
              std::string::npos);
    // Without streams there is no audio heading.
    EXPECT_EQ(BuildInfoText(0, 4000, Header(720, 576, 2), {}).text.find("Audio"),
              std::string::npos);
}
