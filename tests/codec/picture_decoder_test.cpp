// One picture decoded with libavcodec: the same picture as ffmpeg's, at the
// picture's own size, 10-bit pictures brought to 8 bits; damaged or foreign
// input gives an answer, never a crash.

#include <gtest/gtest.h>

#include "codec/av_picture_decoder.h"
#include "codec/h264_access_unit_scanner.h"
#include "codec/hevc_access_unit_scanner.h"
#include "codec/nal_picture_cutter.h"
#include "codec/snapshot_file.h"
#include "codec/video_codec.h"
#include "mpegsnap/bitmap_converter.h"
#include "support/hd_media.h"
#include "support/temp_dir.h"

namespace {

// The parameter sets and first access unit of an elementary stream: what
// the cutter makes of the stream's start.
std::vector<std::uint8_t> firstPictureOf(const std::vector<unsigned char>& es, StreamCodec id) {
    auto scanner = codec::VideoCodecFor(id)->NewScanner();
    std::uint64_t end = es.size();
    std::size_t at = 0;
    for (int seen = 0; at < es.size() && seen < 2; at += 4096) {
        scanner->Feed(es.data() + at, std::min<std::size_t>(4096, es.size() - at));
        for (const codec::AccessUnit& unit : scanner->TakeUnits())
            if (++seen == 2) end = unit.offset;
    }
    std::vector<std::uint8_t> out = scanner->ParameterSets();
    out.insert(out.end(), es.begin(), es.begin() + static_cast<std::ptrdiff_t>(end));
    return out;
}

std::vector<unsigned char> planes(const mpegsnap::DecodedFrame& f) {
    std::vector<unsigned char> out(f.y);
    out.insert(out.end(), f.cb.begin(), f.cb.end());
    out.insert(out.end(), f.cr.begin(), f.cr.end());
    return out;
}

void expectAsFfmpeg(const std::string& recording, StreamCodec id, double minimum) {
    const auto es = ReadFileBytes(hdmedia::VideoElementaryStream(recording));
    const auto cutOut = firstPictureOf(es, id);
    EXPECT_EQ(codec::CodecOfCutOut(cutOut.data(), cutOut.size()), id);
    mpegsnap::DecodedFrame frame;
    std::string error;
    ASSERT_TRUE(codec::AvPictureDecoder::Decode(id, cutOut.data(), cutOut.size(), frame, &error))
        << error;
    const auto packets = hdmedia::VideoPackets(recording);
    const auto reference = hdmedia::FfmpegPicture(recording, packets.front().pts);
    const auto psnr = hdmedia::PlanePsnr(planes(frame), reference, frame.width, frame.height);
    for (double plane : psnr)
        EXPECT_GE(plane, minimum);
}

TEST(AvPictureDecoder, DecodesTheFirstPictureAsFfmpegDoes) {
    expectAsFfmpeg(hdmedia::H264Interlaced(), StreamCodec::H264, 99);  // the same decoder
    expectAsFfmpeg(hdmedia::HevcOpenGop(), StreamCodec::Hevc, 99);
    // 10 bits come down to 8 by rounding; ffmpeg's conversion dithers.
    expectAsFfmpeg(hdmedia::HevcClosedGop10Bit(), StreamCodec::Hevc, 45);
}

TEST(AvPictureDecoder, FramesCarryWhatTheBitmapNeeds) {
    const auto es = ReadFileBytes(hdmedia::VideoElementaryStream(hdmedia::H264Interlaced()));
    const auto cutOut = firstPictureOf(es, StreamCodec::H264);
    mpegsnap::DecodedFrame frame;
    ASSERT_TRUE(
        codec::AvPictureDecoder::Decode(StreamCodec::H264, cutOut.data(), cutOut.size(), frame));
    EXPECT_EQ(frame.width, 1920);
    EXPECT_EQ(frame.height, 1080);
    EXPECT_EQ(frame.chromaFormat, 1);
    EXPECT_FALSE(frame.progressiveFrame);  // interlaced: the field filter is used
    EXPECT_EQ(frame.pictureType, 1);
    EXPECT_EQ(frame.cb.size(), 960u * 540u);
    // Through the bitmap rules at the stream's own size.
    TempDir dir;
    WriteFileBytes(dir.File("pic.m2v"), cutOut);
    codec::WriteSnapshotBitmap(dir.File("pic.m2v"), dir.File("pic%d.bmp"));
    const auto bmp = ReadFileBytes(dir.File("pic%d.bmp"));  // the name as given
    ASSERT_EQ(bmp.size(), 54u + 1920u * 3u * 1080u);
    EXPECT_EQ(bmp[18] | (bmp[19] << 8), 1920);
    EXPECT_EQ(bmp[22] | (bmp[23] << 8), 1080);
}

TEST(AvPictureDecoder, DamagedOrForeignInputGivesNoPicture) {
    mpegsnap::DecodedFrame frame;
    std::string error;
    EXPECT_FALSE(codec::AvPictureDecoder::Decode(StreamCodec::H264, nullptr, 0, frame, &error));
    EXPECT_FALSE(error.empty());
    const std::vector<std::uint8_t> noise = {0,    0, 0, 1, 0x67, 0xFF, 0xFF,
                                             0x12, 0, 0, 1, 0x65, 0x88, 0x81};
    EXPECT_FALSE(
        codec::AvPictureDecoder::Decode(StreamCodec::H264, noise.data(), noise.size(), frame));
    EXPECT_FALSE(
        codec::AvPictureDecoder::Decode(StreamCodec::Aac, noise.data(), noise.size(), frame));
    // A picture cut short still gives an answer (libavcodec conceals what
    // is missing, or there is no picture).
    const auto es = ReadFileBytes(hdmedia::VideoElementaryStream(hdmedia::HevcOpenGop()));
    auto cutOut = firstPictureOf(es, StreamCodec::Hevc);
    for (std::size_t keep : {cutOut.size() / 2, std::size_t{60}, std::size_t{7}}) {
        const bool decoded =
            codec::AvPictureDecoder::Decode(StreamCodec::Hevc, cutOut.data(), keep, frame);
        if (decoded) {
            EXPECT_EQ(frame.width, 640);
        }
    }
    // A run of units: nothing, noise, a foreign codec or units cut short
    // give no picture or a whole one, never a crash.
    codec::ShownPicture shown;
    using Shown = codec::AvPictureDecoder::Shown;
    EXPECT_FALSE(codec::AvPictureDecoder::DecodeRun(StreamCodec::H264, {}, Shown::Last, shown,
                                                    &error));
    const std::vector<codec::CodedUnit> noiseUnits = {
        {nullptr, 5, true, 1}, {noise.data(), noise.size(), true, 2}, {noise.data(), 3, false, 0}};
    EXPECT_FALSE(
        codec::AvPictureDecoder::DecodeRun(StreamCodec::H264, noiseUnits, Shown::Last, shown));
    EXPECT_FALSE(
        codec::AvPictureDecoder::DecodeRun(StreamCodec::Aac, noiseUnits, Shown::First, shown));
    for (std::size_t keep : {cutOut.size() / 2, std::size_t{60}}) {
        const std::vector<codec::CodedUnit> units = {{cutOut.data(), keep, true, 900}};
        if (codec::AvPictureDecoder::DecodeRun(StreamCodec::Hevc, units, Shown::First, shown)) {
            EXPECT_EQ(shown.frame.width, 640);
            EXPECT_TRUE(shown.hasPts && shown.pts == 900);
        }
    }
    // What is no cut-out of ours is not taken for one.
    EXPECT_EQ(codec::CodecOfCutOut(noise.data() + 4, noise.size() - 4), StreamCodec::Unknown);
    const std::vector<std::uint8_t> mpeg2 = {0, 0, 1, 0xB3, 0x2D, 0x02, 0x40};
    EXPECT_EQ(codec::CodecOfCutOut(mpeg2.data(), mpeg2.size()), StreamCodec::Mpeg2Video);
    TempDir dir;
    mpegsnap::DecodedFrame none;
    EXPECT_FALSE(codec::DecodeCutOutFile(dir.File("missing.m2v"), none, &error));
    WriteFileBytes(dir.File("empty.m2v"), {});
    EXPECT_FALSE(codec::DecodeCutOutFile(dir.File("empty.m2v"), none, &error));
    codec::WriteSnapshotBitmap(dir.File("empty.m2v"), dir.File("out.bmp"));
    EXPECT_FALSE(std::filesystem::exists(dir.File("out.bmp")));
}

}  // namespace
