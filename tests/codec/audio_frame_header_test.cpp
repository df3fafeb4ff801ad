// The frame headers of E-AC-3, ADTS and LATM audio: sample rate, bit rate
// and channel layout as ffprobe reads them from encoder output, and the
// headers that are skipped.

#include <gtest/gtest.h>

#include "bit_writer.h"
#include "codec/audio_frame_header.h"
#include "support/hd_media.h"
#include "support/run_command.h"
#include "support/temp_dir.h"

namespace {

std::vector<unsigned char> encode(const TempDir& dir, const std::string& name,
                                  const std::string& options) {
    const std::string path = dir.File(name);
    RunCommand("ffmpeg -v error -y -f lavfi -i sine=frequency=440:sample_rate=48000 -t 0.3 " +
                 options + " '" + path + "' 2>&1");
    return ReadFileBytes(path);
}

TEST(AudioFrameHeader, Eac3AsFfprobeReadsIt) {
    TempDir dir;
    const auto frames = encode(dir, "a.eac3", "-ac 6 -c:a eac3 -b:a 384k");
    ASSERT_FALSE(frames.empty());
    sPMTEntry entry;
    ASSERT_TRUE(codec::ParseEac3Header(frames.data(), 0, static_cast<int>(frames.size()), entry));
    auto probe = hdmedia::StreamFields(dir.File("a.eac3"), "a:0");
    EXPECT_EQ(std::to_string(entry.sampleRate), probe["sample_rate"]);
    EXPECT_EQ(std::to_string(entry.ac3BitRate * 1000), probe["bit_rate"]);
    EXPECT_EQ(entry.layout, "5.1");
    EXPECT_EQ(entry.ac3CodingMode, 7);
    EXPECT_EQ(entry.ac3Lfe, 1);
}

TEST(AudioFrameHeader, AdtsAsFfprobeReadsIt) {
    TempDir dir;
    for (const auto& [options, layout] :
         {std::pair<std::string, std::string>{"-ac 1 -c:a aac", "1.0"},
          {"-ac 2 -ar 44100 -c:a aac", "2.0"},
          {"-ac 6 -c:a aac", "5.1"}}) {
        const auto frames = encode(dir, "a.aac", options + " -f adts");
        sPMTEntry entry;
        ASSERT_TRUE(
            codec::ParseAdtsHeader(frames.data(), 0, static_cast<int>(frames.size()), entry))
            << options;
        EXPECT_EQ(std::to_string(entry.sampleRate),
                  hdmedia::StreamFields(dir.File("a.aac"), "a:0")["sample_rate"]);
        EXPECT_EQ(entry.layout, layout);
    }
}

TEST(AudioFrameHeader, LatmOfARealBroadcast) {
    // The first bytes of an HE-AAC stream in LOAS/LATM (DVB-T, Australia):
    // a 24 kHz AAC core whose SBR doubles it; stereo.
    const std::vector<std::uint8_t> latm = {0x56, 0xe1, 0x5b, 0x20, 0x00, 0x13, 0x10, 0x1f,
                                            0xf8, 0x04, 0x00, 0x00, 0xff, 0x51, 0x21, 0x1b};
    sPMTEntry entry;
    ASSERT_TRUE(codec::ParseLatmHeader(latm.data(), 0, static_cast<int>(latm.size()), entry));
    EXPECT_EQ(entry.sampleRate, 48000);
    EXPECT_EQ(entry.layout, "2.0");
    // Explicitly signalled SBR names the rate heard itself.
    BitWriter w;
    w.Bits(0x2B7, 11).Bits(20, 13).Flag(false).Bits(0, 1).Flag(true).Bits(0, 6).Bits(0, 4).Bits(0,
                                                                                                3);
    w.Bits(5, 5).Bits(6, 4).Bits(2, 4).Bits(3, 4).Bits(2, 5).Align();
    const auto explicitSbr = w.Raw();
    ASSERT_TRUE(
        codec::ParseLatmHeader(explicitSbr.data(), 0, static_cast<int>(explicitSbr.size()), entry));
    EXPECT_EQ(entry.sampleRate, 48000);
    // A frame that refers to an earlier configuration tells nothing.
    std::vector<std::uint8_t> same = latm;
    same[3] |= 0x80;  // useSameStreamMux
    sPMTEntry untouched;
    EXPECT_FALSE(codec::ParseLatmHeader(same.data(), 0, static_cast<int>(same.size()), untouched));
    EXPECT_EQ(untouched.sampleRate, 0);
}

TEST(AudioFrameHeader, HeadersThatAreNoneAreSkipped) {
    // E-AC-3: a dependent substream, then AC-3 (bsid 8), then an independent
    // 32 kHz half-rate frame (fscod 3, fscod2 2: 16 kHz).
    BitWriter w;
    w.Bits(0x0B77, 16)
        .Bits(1, 2)
        .Bits(0, 3)
        .Bits(100, 11)
        .Bits(0, 2)
        .Bits(3, 2)
        .Bits(2, 3)
        .Bits(0, 1)
        .Bits(16, 5)
        .Bits(0, 3);
    w.Bits(0x0B77, 16).Bits(0, 16).Bits(0x1C, 8).Bits(8 << 3, 8).Bits(0, 8);
    w.Bits(0x0B77, 16)
        .Bits(0, 2)
        .Bits(0, 3)
        .Bits(255, 11)
        .Bits(3, 2)
        .Bits(2, 2)
        .Bits(1, 3)
        .Bits(1, 1)
        .Bits(16, 5)
        .Bits(0, 3);
    const auto frames = w.Raw();
    sPMTEntry entry;
    ASSERT_TRUE(codec::ParseEac3Header(frames.data(), 0, static_cast<int>(frames.size()), entry));
    EXPECT_EQ(entry.sampleRate, 16000);
    EXPECT_EQ(entry.layout, "1.1");
    EXPECT_EQ(entry.ac3BitRate, 16 * 256 * 16000 / (256 * 6) / 1000);
    // ADTS: a reserved rate index, an MPEG audio header (layer bits set).
    const std::vector<std::uint8_t> adts = {0xFF, 0xF1, 0x3C, 0x80, 0x20, 0x00, 0x00,
                                            0xFF, 0xFD, 0x94, 0x00, 0x00, 0x00, 0x00};
    sPMTEntry none;
    EXPECT_FALSE(codec::ParseAdtsHeader(adts.data(), 0, static_cast<int>(adts.size()), none));
    EXPECT_EQ(none.sampleRate, 0);
    // Nothing is read before from or beyond n.
    EXPECT_FALSE(codec::ParseEac3Header(frames.data(), 0, 5, none));
    EXPECT_FALSE(codec::ParseAdtsHeader(adts.data(), 7, 6, none));
    EXPECT_EQ(codec::Ac3ChannelLayout(0, false), "2.0");  // 1+1 counts two
    EXPECT_EQ(codec::Ac3ChannelLayout(7, true), "5.1");
}

}  // namespace
