// Audio frames of the codecs HD recordings carry, cut from their streams:
// lengths and durations as ffmpeg's encoders write them, the time stamps
// of PES packets given to the right frames, sync words inside the data not
// taken for frames, losses; AAC in LATM rewritten as ADTS; silent AAC frames.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bit_writer.h"
#include "codec/audio_frame_splitter.h"
#include "codec/latm_to_adts.h"
#include "codec/silent_adts_frame.h"
#include "support/hd_media.h"
#include "support/run_command.h"
#include "support/temp_dir.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using codec::AudioFrameSplitter;

Bytes encode(const TempDir& dir, const std::string& name, const std::string& options) {
    const std::string path = dir.File(name);
    RunCommand("ffmpeg -v error -y -f lavfi -i anoisesrc=d=1:r=48000 " + options + " '" + path +
                 "' 2>&1");
    return ReadFileBytes(path);
}

int packetCount(const std::string& path) {
    return std::stoi(RunCommand("ffprobe -v error -select_streams a:0 -count_packets -show_entries "
                                  "stream=nb_read_packets -of csv=p=0 '" +
                                  path + "'"));
}

std::vector<AudioFrameSplitter::Frame> split(StreamCodec codec, const Bytes& stream,
                                             std::size_t chunk) {
    AudioFrameSplitter splitter(codec);
    std::vector<AudioFrameSplitter::Frame> frames;
    for (std::size_t at = 0; at < stream.size(); at += chunk) {
        splitter.Feed(stream.data() + at, std::min(chunk, stream.size() - at));
        for (auto& f : splitter.TakeFrames()) frames.push_back(std::move(f));
    }
    splitter.Finish();
    for (auto& f : splitter.TakeFrames()) frames.push_back(std::move(f));
    return frames;
}

// Every frame of each codec, as ffprobe counts them, whatever pieces the
// stream comes in; each with the samples its codec gives a frame.
TEST(AudioFrameSplitter, CutsEveryFrameOfEachCodecInAnyPieces) {
    TempDir dir;
    struct Case {
        StreamCodec codec;
        const char* name;
        const char* options;
        int samples;
    };
    for (const Case& c : {Case{StreamCodec::MpegAudio, "a.mp2", "-c:a mp2 -b:a 192k", 1152},
                          Case{StreamCodec::Ac3, "a.ac3", "-ac 6 -c:a ac3", 1536},
                          Case{StreamCodec::Eac3, "a.eac3", "-ac 6 -c:a eac3 -b:a 384k", 1536},
                          Case{StreamCodec::Aac, "a.aac", "-ac 2 -c:a aac -f adts", 1024}}) {
        SCOPED_TRACE(c.name);
        const Bytes stream = encode(dir, c.name, c.options);
        ASSERT_FALSE(stream.empty());
        const auto whole = split(c.codec, stream, stream.size());
        EXPECT_EQ(static_cast<int>(whole.size()), packetCount(dir.File(c.name)));
        std::size_t bytes = 0;
        for (const auto& f : whole) {
            bytes += f.bytes.size();
            EXPECT_EQ(f.info.samples, c.samples);
            EXPECT_EQ(f.info.sampleRate, 48000);
        }
        EXPECT_EQ(bytes, stream.size());
        const auto bytewise = split(c.codec, stream, 1);
        ASSERT_EQ(bytewise.size(), whole.size());
        for (std::size_t i = 0; i < whole.size(); ++i) EXPECT_EQ(bytewise[i].bytes, whole[i].bytes);
    }
}

class AdtsStream : public ::testing::Test {
protected:
    void SetUp() override {
        const Bytes stream = encode(m_dir, "a.aac", "-ac 1 -c:a aac -f adts");
        m_frames = split(StreamCodec::Aac, stream, stream.size());
        ASSERT_GE(m_frames.size(), 20u);
    }
    Bytes Frames(std::size_t from, std::size_t to) const {
        Bytes out;
        for (std::size_t i = from; i < to; ++i)
            out.insert(out.end(), m_frames[i].bytes.begin(), m_frames[i].bytes.end());
        return out;
    }
    TempDir m_dir;
    std::vector<AudioFrameSplitter::Frame> m_frames;
};

// A PES stamp belongs to the first frame that begins in its PES packet: one
// that begins inside a frame stamps the frame after it.
TEST_F(AdtsStream, StampsGoToTheFirstFrameThatBeginsInTheirPes) {
    AudioFrameSplitter splitter(StreamCodec::Aac);
    const Bytes first = Frames(0, 3);
    const std::size_t middle = first.size() - 5;  // inside frame 2
    splitter.StartPes(true, 1000);
    splitter.Feed(first.data(), middle);
    splitter.StartPes(true, 5000);
    splitter.Feed(first.data() + middle, first.size() - middle);
    const Bytes rest = Frames(3, 6);
    splitter.Feed(rest.data(), rest.size());
    splitter.Finish();
    const auto frames = splitter.TakeFrames();
    ASSERT_EQ(frames.size(), 6u);
    EXPECT_TRUE(frames[0].hasPts);
    EXPECT_EQ(frames[0].pts, 1000u);
    EXPECT_FALSE(frames[1].hasPts);
    EXPECT_FALSE(frames[2].hasPts);
    EXPECT_TRUE(frames[3].hasPts);
    EXPECT_EQ(frames[3].pts, 5000u);
    EXPECT_FALSE(frames[4].hasPts);
}

// A sync word with a readable header inside a frame's data is no frame: the
// frame it would begin is not followed by another.
TEST_F(AdtsStream, ASyncWordInsideTheDataIsNoFrame) {
    Bytes stream = Frames(0, 8);
    const std::size_t fake = 10;  // inside frame 0, before frame 1 begins
    ASSERT_LT(fake + 7, m_frames[0].bytes.size());
    const Bytes header(m_frames[5].bytes.begin(), m_frames[5].bytes.begin() + 7);
    std::copy(header.begin(), header.end(), stream.begin() + static_cast<std::ptrdiff_t>(fake));
    // Read from inside frame 0 on: the first frame start found must be the
    // real one of frame 1, not the header in frame 0's data.
    const Bytes from(stream.begin() + 3, stream.end());
    AudioFrameSplitter splitter(StreamCodec::Aac);
    splitter.Feed(from.data(), from.size());
    splitter.Finish();
    const auto frames = splitter.TakeFrames();
    // Not even taken and then found wanting: no invalid frame is reported.
    EXPECT_EQ(splitter.InvalidFrames(), 0);
    ASSERT_EQ(frames.size(), 7u);
    EXPECT_EQ(frames[0].bytes.size(), m_frames[1].bytes.size());
    EXPECT_EQ(frames.back().bytes, m_frames[7].bytes);
}

// After lost packets the rest of the PES is passed over: its frames could
// not be timed. The stream goes on at the next PES, whose first frame says
// that frames were lost before it.
TEST_F(AdtsStream, AfterALossTheStreamGoesOnAtTheNextPes) {
    AudioFrameSplitter splitter(StreamCodec::Aac);
    const Bytes a = Frames(0, 4), b = Frames(4, 6), c = Frames(8, 10);
    splitter.StartPes(true, 1000);
    splitter.Feed(a.data(), a.size() - 3);  // frame 3 loses its end
    splitter.Lose();
    splitter.Feed(b.data(), b.size());
    splitter.StartPes(true, 9000);
    splitter.Feed(c.data(), c.size());
    splitter.Finish();
    const auto frames = splitter.TakeFrames();
    ASSERT_EQ(frames.size(), 5u);
    EXPECT_EQ(frames[2].bytes, m_frames[2].bytes);
    EXPECT_FALSE(frames[2].afterLoss);
    EXPECT_EQ(frames[3].bytes, m_frames[8].bytes);
    EXPECT_TRUE(frames[3].afterLoss);
    EXPECT_EQ(frames[3].pts, 9000u);
}

TEST_F(AdtsStream, AFrameCutShortByTheEndIsDropped) {
    const Bytes whole = Frames(0, 5);
    EXPECT_EQ(split(StreamCodec::Aac, whole, 100).size(), 5u);
    const Bytes cut(whole.begin(), whole.end() - 4);
    EXPECT_EQ(split(StreamCodec::Aac, cut, 100).size(), 4u);
}

// A silent frame of each channel configuration: ffmpeg decodes it without a
// message, and as nothing but zeros once the frame before has faded out.
TEST(SilentAdtsFrame, DecodesToSilenceForEachChannelConfiguration) {
    TempDir dir;
    for (int channels : {1, 2, 6}) {
        SCOPED_TRACE(channels);
        const std::string options = "-ac " + std::to_string(channels) + " -c:a aac -f adts -t 0.1";
        const Bytes real = encode(dir, "real.aac", options);
        const Bytes silent = codec::SilentAdtsFrame(real.data(), static_cast<int>(real.size()));
        ASSERT_FALSE(silent.empty());
        Bytes stream;
        for (int i = 0; i < 20; ++i) stream.insert(stream.end(), silent.begin(), silent.end());
        WriteFileBytes(dir.File("silent.aac"), stream);
        const std::string pcm = dir.File("silent.pcm");
        EXPECT_EQ(RunCommand("ffmpeg -v error -y -i '" + dir.File("silent.aac") +
                               "' -f s16le '" + pcm + "' 2>&1"),
                  "");
        const Bytes samples = ReadFileBytes(pcm);
        EXPECT_GE(samples.size(), 2u * channels * 1024 * 19);
        EXPECT_TRUE(std::all_of(samples.begin(), samples.end(), [](std::uint8_t b) { return b == 0; }));
    }
}

// LATM elements built bit by bit around raw AAC frames, which the ADTS
// frames must carry unchanged behind a header that says what the
// AudioSpecificConfig says.
class LatmElements : public ::testing::Test {
protected:
    // AudioSpecificConfig of AAC LC (or HE-AAC with explicit SBR: object
    // type 5, the heard rate, then the core), GASpecificConfig all zero.
    static void Asc(BitWriter& w, int rateIndex, int channels, bool sbr = false) {
        w.Bits(sbr ? 5 : 2, 5).Bits(static_cast<std::uint64_t>(rateIndex), 4).Bits(static_cast<std::uint64_t>(channels), 4);
        if (sbr) w.Bits(3, 4).Bits(2, 5);
        w.Bits(0, 3);  // frameLengthFlag, dependsOnCoreCoder, extensionFlag
    }
    // StreamMuxConfig of audioMuxVersion 0.
    static void MuxConfig(BitWriter& w, int subFrames, int rateIndex, int channels, bool sbr = false,
                          int frameLengthType = 0) {
        w.Bits(0, 1).Bits(1, 1).Bits(static_cast<std::uint64_t>(subFrames - 1), 6).Bits(0, 4).Bits(0, 3);
        Asc(w, rateIndex, channels, sbr);
        w.Bits(static_cast<std::uint64_t>(frameLengthType), 3).Bits(0xFF, 8);
        w.Bits(0, 1).Bits(0, 1);  // otherDataPresent, crcCheckPresent
    }
    static void Payload(BitWriter& w, const Bytes& raw) {
        std::size_t left = raw.size();
        for (; left >= 255; left -= 255) w.Bits(255, 8);
        w.Bits(left, 8);
        for (std::uint8_t b : raw) w.Byte(b);
    }
    static Bytes Loas(BitWriter& element) {
        element.Align();
        const Bytes& body = element.Raw();
        Bytes loas = {0x56, static_cast<std::uint8_t>(0xE0 | (body.size() >> 8)),
                      static_cast<std::uint8_t>(body.size() & 0xFF)};
        loas.insert(loas.end(), body.begin(), body.end());
        return loas;
    }
    static Bytes Raw(int size, int seed) {
        Bytes raw;
        for (int i = 0; i < size; ++i) raw.push_back(static_cast<std::uint8_t>(seed * 31 + i * 7));
        return raw;
    }
    // The ADTS frame the converter must make of a raw frame.
    static void ExpectAdts(const codec::LatmToAdts::Frame& f, int profile, int rateIndex, int channels,
                           const Bytes& raw) {
        ASSERT_EQ(f.bytes.size(), raw.size() + 7);
        EXPECT_EQ(f.bytes[0], 0xFF);
        EXPECT_EQ(f.bytes[1], 0xF1);
        EXPECT_EQ(f.bytes[2] >> 6, profile);
        EXPECT_EQ((f.bytes[2] >> 2) & 0x0F, rateIndex);
        EXPECT_EQ(((f.bytes[2] & 1) << 2) | (f.bytes[3] >> 6), channels);
        const int length = ((f.bytes[3] & 3) << 11) | (f.bytes[4] << 3) | (f.bytes[5] >> 5);
        EXPECT_EQ(length, static_cast<int>(f.bytes.size()));
        EXPECT_EQ(Bytes(f.bytes.begin() + 7, f.bytes.end()), raw);
    }
};

TEST_F(LatmElements, RawFramesGoIntoAdtsUnchanged) {
    codec::LatmToAdts latm;
    std::vector<codec::LatmToAdts::Frame> out;
    std::string why;
    // A new configuration, then the same used again; a raw frame of more
    // than 255 bytes, and one whose bits do not begin on a byte.
    const Bytes a = Raw(300, 1), b = Raw(40, 2), c = Raw(41, 3);
    BitWriter first;
    first.Bits(0, 1);  // useSameStreamMux
    MuxConfig(first, 1, 3, 2);
    Payload(first, a);
    ASSERT_TRUE(latm.Convert(Loas(first).data(), static_cast<int>(Loas(first).size()), out, &why)) << why;
    BitWriter second;
    second.Bits(1, 1);
    Payload(second, b);
    ASSERT_TRUE(latm.Convert(Loas(second).data(), static_cast<int>(Loas(second).size()), out, &why)) << why;
    // Two frames in one element.
    BitWriter pair;
    pair.Bits(0, 1);
    MuxConfig(pair, 2, 6, 1);
    Payload(pair, b);
    Payload(pair, c);
    ASSERT_TRUE(latm.Convert(Loas(pair).data(), static_cast<int>(Loas(pair).size()), out, &why)) << why;
    ASSERT_EQ(out.size(), 4u);
    ExpectAdts(out[0], 1, 3, 2, a);
    ExpectAdts(out[1], 1, 3, 2, b);
    ExpectAdts(out[2], 1, 6, 1, b);
    ExpectAdts(out[3], 1, 6, 1, c);
    EXPECT_EQ(out[3].samples, 1024);
    EXPECT_EQ(out[3].sampleRate, 24000);
}

// HE-AAC signalled explicitly goes out as its AAC LC core at the core's
// rate; an audioMuxVersion 1 configuration gives its length and may carry
// fill bits behind it.
TEST_F(LatmElements, HeAacAndVersionOneConfigurations) {
    codec::LatmToAdts latm;
    std::vector<codec::LatmToAdts::Frame> out;
    std::string why;
    const Bytes raw = Raw(60, 4);
    BitWriter he;
    he.Bits(0, 1);
    MuxConfig(he, 1, 6, 2, true);
    Payload(he, raw);
    ASSERT_TRUE(latm.Convert(Loas(he).data(), static_cast<int>(Loas(he).size()), out, &why)) << why;
    ExpectAdts(out.back(), 1, 6, 2, raw);

    BitWriter v1;
    v1.Bits(0, 1).Bits(1, 1).Bits(0, 1);  // useSameStreamMux, audioMuxVersion 1, versionA 0
    v1.Bits(0, 2).Bits(0xFF, 8);           // taraBufferFullness
    v1.Bits(1, 1).Bits(0, 6).Bits(0, 4).Bits(0, 3);
    v1.Bits(0, 2).Bits(16 + 5, 8);  // ascLen: 16 bits of config and 5 fill bits
    Asc(v1, 4, 2);
    v1.Bits(0, 5);
    v1.Bits(0, 3).Bits(0xFF, 8);
    v1.Bits(1, 1).Bits(0, 2).Bits(16, 8);  // otherDataPresent, otherDataLenBits
    v1.Bits(1, 1).Bits(0xAB, 8);           // crcCheckPresent, crcCheckSum
    Payload(v1, raw);
    ASSERT_TRUE(latm.Convert(Loas(v1).data(), static_cast<int>(Loas(v1).size()), out, &why)) << why;
    ExpectAdts(out.back(), 1, 4, 2, raw);
}

// What ADTS cannot carry, and damage, is refused with the reason; nothing
// is given out for such an element.
TEST_F(LatmElements, WhatAdtsCannotCarryIsRefused) {
    const Bytes raw = Raw(20, 5);
    auto refused = [&](codec::LatmToAdts& latm, BitWriter& w, const std::string& reason) {
        std::vector<codec::LatmToAdts::Frame> out;
        std::string why;
        const Bytes loas = Loas(w);
        EXPECT_FALSE(latm.Convert(loas.data(), static_cast<int>(loas.size()), out, &why));
        EXPECT_NE(why.find(reason), std::string::npos) << why;
        EXPECT_TRUE(out.empty());
    };
    codec::LatmToAdts latm;
    BitWriter same;
    same.Bits(1, 1);
    Payload(same, raw);
    refused(latm, same, "before their configuration");
    BitWriter pce;
    pce.Bits(0, 1);
    MuxConfig(pce, 1, 3, 0);
    refused(latm, pce, "program config element");
    BitWriter celp;
    celp.Bits(0, 1);
    MuxConfig(celp, 1, 3, 2, false, 4);
    refused(latm, celp, "fixed length");
    BitWriter er;
    er.Bits(0, 1).Bits(0, 1).Bits(1, 1).Bits(0, 6).Bits(0, 4).Bits(0, 3);
    er.Bits(17, 5).Bits(3, 4).Bits(2, 4);  // ER AAC LC
    refused(latm, er, "object type 17");
    BitWriter cut;
    cut.Bits(0, 1);
    MuxConfig(cut, 1, 3, 2);
    cut.Bits(200, 8);  // 200 bytes said, 20 there
    for (std::uint8_t b : raw) cut.Byte(b);
    refused(latm, cut, "damaged");
}

// HE-AAC in LATM from a real broadcast (DVB-T, Australia): each LOAS frame
// becomes an ADTS frame that ffmpeg decodes without a message, frame for
// frame as it decodes the LATM stream itself.
TEST(LatmOfARealBroadcast, BecomesAdtsThatDecodesFrameForFrame) {
    TempDir dir;
    const std::string capture =
        std::string(RAVELO_REAL_CAPTURES) + "/abc_news_dvbt_au_mpeg2_mp2_latm_ttx.ts";
    const std::string loas = dir.File("a.latm");
    RunCommand("ffmpeg -v error -y -i '" + capture + "' -map 0:a:1 -c copy -f data '" + loas +
                 "' 2>&1");
    const Bytes stream = ReadFileBytes(loas);
    ASSERT_FALSE(stream.empty());
    codec::LatmToAdts latm;
    Bytes adts;
    int frames = 0;
    for (const auto& f : split(StreamCodec::AacLatm, stream, 188)) {
        std::vector<codec::LatmToAdts::Frame> out;
        std::string why;
        ASSERT_TRUE(latm.Convert(f.bytes.data(), static_cast<int>(f.bytes.size()), out, &why)) << why;
        for (const auto& a : out) {
            adts.insert(adts.end(), a.bytes.begin(), a.bytes.end());
            ++frames;
        }
    }
    WriteFileBytes(dir.File("a.aac"), adts);
    auto decoded = [](const std::string& arguments) {
        return RunCommand("ffmpeg -hide_banner -v error " + arguments +
                            " -f framemd5 - 2>/dev/null | grep -c -v '^#'");
    };
    EXPECT_EQ(RunCommand("ffmpeg -v error -i '" + dir.File("a.aac") + "' -f null - 2>&1"), "");
    EXPECT_EQ(decoded("-i '" + dir.File("a.aac") + "'"), decoded("-i '" + capture + "' -map 0:a:1"));
    EXPECT_EQ(std::to_string(frames) + "\n", decoded("-i '" + dir.File("a.aac") + "'"));
}

}  // namespace
