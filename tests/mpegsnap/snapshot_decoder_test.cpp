// The decoder against ffmpeg's decode of the same streams, and its results
// on input that is not a decodable video stream.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "decoder_test_support.h"
#include "mpegsnap/snapshot_decoder.h"
#include "support/temp_dir.h"

using decodertest::CutFirstPicture;
using decodertest::DecodeWithFfmpeg;
using decodertest::FramePsnr;
using decodertest::HaveFfmpeg;
using decodertest::RunFfmpeg;
using mpegsnap::DecodedFrame;

namespace {

constexpr double kIntraPsnr = 50.0;
constexpr double kPredictedPsnr = 45.0;

#define REQUIRE_FFMPEG() \
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed"

struct EncoderCase {
    const char* name;
    const char* codec;   // ffmpeg encoder
    const char* format;  // ffmpeg muxer
    const char* pixelFormat;
    const char* size;
    const char* options;
    int frames;
};

// Generates a moving test picture sequence into an elementary stream.
std::string encode(const TempDir& dir, const EncoderCase& c) {
    const std::string path = dir.File(std::string(c.name) + ".m2v");
    const std::string source = "-f lavfi -i testsrc2=size=" + std::string(c.size) +
                               ":rate=25 -frames:v " + std::to_string(c.frames);
    if (!RunFfmpeg(source + " -c:v " + c.codec + " -pix_fmt " + c.pixelFormat + " " + c.options +
                   " -f " + c.format + " '" + path + "'"))
        return {};
    return path;
}

// Each decoded frame against ffmpeg's frame at its display position.
void expectMatchesFfmpeg(const std::string& path, const char* pixelFormat, int count) {
    const std::vector<std::uint8_t> raw = DecodeWithFfmpeg(path, pixelFormat, count);
    ASSERT_FALSE(raw.empty());
    std::vector<DecodedFrame> frames;
    ASSERT_EQ(mpegsnap::DecodeFrames(path, count, frames), count);
    // Display position: the temporal reference counts within a group of
    // pictures; ffmpeg's closed groups start with an I picture of reference 0.
    int groupStart = 0;
    int groupLength = 0;
    for (int i = 0; i < count; ++i) {
        const DecodedFrame& frame = frames[static_cast<std::size_t>(i)];
        if (i > 0 && frame.pictureType == 1 && frame.temporalReference == 0) {
            groupStart += groupLength;
            groupLength = 0;
        }
        groupLength = std::max(groupLength, frame.temporalReference + 1);
        const double psnr = FramePsnr(frame, raw, groupStart + frame.temporalReference);
        EXPECT_GE(psnr, i == 0 ? kIntraPsnr : kPredictedPsnr)
            << "frame " << i << " (type " << frames[static_cast<std::size_t>(i)].pictureType
            << ", temporal reference " << frames[static_cast<std::size_t>(i)].temporalReference
            << ")";
    }
}

class EncoderComparison : public testing::TestWithParam<EncoderCase> {};

TEST_P(EncoderComparison, FramesInStreamOrderMatchFfmpeg) {
    REQUIRE_FFMPEG();
    TempDir dir;
    const EncoderCase& c = GetParam();
    const std::string path = encode(dir, c);
    ASSERT_FALSE(path.empty()) << "ffmpeg could not encode " << c.name;
    expectMatchesFfmpeg(path, c.pixelFormat, c.frames);
}

// A loaded intra matrix (zig-zag order in the stream, raster order in use).
constexpr const char* kIntraMatrix =
    "8,12,14,16,18,20,22,24,12,14,16,18,20,22,24,26,14,16,18,20,22,24,26,28,16,18,20,22,24,26,"
    "28,30,18,20,22,24,26,28,30,32,20,22,24,26,28,30,32,34,22,24,26,28,30,32,34,36,24,26,28,30,"
    "32,34,36,40";
constexpr const char* kInterMatrix =
    "16,17,18,19,20,21,22,23,17,18,19,20,21,22,23,24,18,19,20,21,22,23,24,25,19,20,21,22,23,24,"
    "25,26,20,21,22,23,24,25,26,27,21,22,23,24,25,26,27,28,22,23,24,25,26,27,28,29,23,24,25,26,"
    "27,28,29,30";

const std::string kLoadedMatrices =
    std::string("-g 1 -q:v 2 -intra_matrix ") + kIntraMatrix + " -inter_matrix " + kInterMatrix;
const std::string kLoadedMatricesPredicted = std::string("-g 12 -bf 2 -q:v 3 -intra_matrix ") +
                                             kIntraMatrix + " -inter_matrix " + kInterMatrix;

INSTANTIATE_TEST_SUITE_P(
    Streams, EncoderComparison,
    testing::Values(
        EncoderCase{"Mpeg2IPB", "mpeg2video", "mpeg2video", "yuv420p", "352x288",
                    "-g 12 -bf 2 -q:v 3", 8},
        EncoderCase{"Mpeg2HighQuality", "mpeg2video", "mpeg2video", "yuv420p", "176x144",
                    "-g 12 -bf 2 -q:v 1 -qmin 1", 5},
        EncoderCase{
            "Mpeg2IntraVlcAlternateScanNonLinear", "mpeg2video", "mpeg2video", "yuv420p", "352x288",
            "-g 12 -bf 2 -q:v 2 -qmax 28 -intra_vlc 1 -alternate_scan 1 -non_linear_quant 1 -dc 10",
            6},
        EncoderCase{"Mpeg2LoadedMatrixIntraOnly", "mpeg2video", "mpeg2video", "yuv420p", "352x288",
                    kLoadedMatrices.c_str(), 3},
        EncoderCase{"Mpeg2LoadedMatricesPredicted", "mpeg2video", "mpeg2video", "yuv420p",
                    "176x144", kLoadedMatricesPredicted.c_str(), 5},
        EncoderCase{"Mpeg2InterlacedFieldDctFieldPrediction", "mpeg2video", "mpeg2video", "yuv420p",
                    "352x288", "-g 12 -bf 2 -q:v 3 -flags +ildct+ilme -top 1", 8},
        EncoderCase{"Mpeg2Chroma422", "mpeg2video", "mpeg2video", "yuv422p", "352x288",
                    "-g 12 -bf 2 -q:v 3", 6},
        EncoderCase{"Mpeg2Chroma422Interlaced", "mpeg2video", "mpeg2video", "yuv422p", "352x288",
                    "-g 12 -bf 2 -q:v 3 -flags +ildct+ilme -top 1", 5},
        EncoderCase{"Mpeg1IPB", "mpeg1video", "mpeg1video", "yuv420p", "352x240",
                    "-g 12 -bf 2 -q:v 3", 8},
        EncoderCase{"Mpeg1OddSize", "mpeg1video", "mpeg1video", "yuv420p", "200x120",
                    "-g 12 -bf 1 -q:v 4", 5},
        EncoderCase{"Mpeg2Wide", "mpeg2video", "mpeg2video", "yuv420p", "720x576",
                    "-g 12 -bf 2 -b:v 6M -flags +ildct+ilme", 4}),
    [](const testing::TestParamInfo<EncoderCase>& info) { return std::string(info.param.name); });

}  // namespace

namespace {

// The video of a transport stream as an elementary stream cut to its first
// picture (from the first sequence header on: captures start mid-GOP).
std::string firstPictureOf(const TempDir& dir, const std::string& recording) {
    const std::string video = dir.File("video.m2v");
    if (!RunFfmpeg("-i '" + recording + "' -map 0:v:0 -c copy -f mpeg2video '" + video + "'"))
        return {};
    const std::vector<std::uint8_t> cut = CutFirstPicture(ReadFileBytes(video));
    if (cut.empty()) return {};
    const std::string path = dir.File("first.m2v");
    WriteFileBytes(path, cut);
    return path;
}

void expectFirstPictureMatches(const std::string& recording, int width, int height) {
    TempDir dir;
    const std::string path = firstPictureOf(dir, recording);
    ASSERT_FALSE(path.empty()) << recording;
    const std::vector<std::uint8_t> raw = DecodeWithFfmpeg(path, "yuv420p", 1);
    std::vector<DecodedFrame> frames;
    ASSERT_EQ(mpegsnap::DecodeFrames(path, 1, frames), 1);
    EXPECT_EQ(frames[0].width, width);
    EXPECT_EQ(frames[0].height, height);
    EXPECT_EQ(frames[0].pictureType, 1);
    EXPECT_GE(FramePsnr(frames[0], raw, 0), kIntraPsnr) << recording;
}

TEST(RecordedVideo, SampleRecordingFirstPicture) {
    REQUIRE_FFMPEG();
    expectFirstPictureMatches(std::string(RAVELO_SOURCE_DIR) + "/samples/sample.ts", 720, 576);
}

TEST(RecordedVideo, BroadcastCapturesFirstPicture) {
    REQUIRE_FFMPEG();
    const std::string real = std::string(RAVELO_REAL_CAPTURES) + "/";
    if (!std::filesystem::exists(real)) GTEST_SKIP() << "no real captures at " << real;
    expectFirstPictureMatches(real + "rai_mux_dvbt_it_mpeg2_mp2_ttx.ts", 720, 576);
    expectFirstPictureMatches(real + "bbc_news_dvbt_uk_mpeg2_704x576_dvbsub.ts", 704, 576);
    expectFirstPictureMatches(real + "p1_mpeg2_720x576_mp2_separate_pcr_pid.ts", 720, 576);
}

TEST(RecordedVideo, BroadcastCapturePredictedPicturesInOrder) {
    // The first group of pictures of a capture, from its first sequence
    // header: an open group whose two leading B pictures miss their past
    // reference (ffmpeg drops them, we predict them from grey); every other
    // picture must match ffmpeg's at its display position.
    REQUIRE_FFMPEG();
    const std::string recording =
        std::string(RAVELO_REAL_CAPTURES) + "/rai_mux_dvbt_it_mpeg2_mp2_ttx.ts";
    if (!std::filesystem::exists(recording)) GTEST_SKIP() << "no real capture";
    TempDir dir;
    const std::string video = dir.File("video.m2v");
    ASSERT_TRUE(
        RunFfmpeg("-i '" + recording + "' -map 0:v:0 -c copy -f mpeg2video '" + video + "'"));
    std::vector<std::uint8_t> bytes = ReadFileBytes(video);
    std::size_t start = 0;
    while (start + 4 <= bytes.size() && !(bytes[start] == 0 && bytes[start + 1] == 0 &&
                                          bytes[start + 2] == 1 && bytes[start + 3] == 0xB3))
        ++start;
    const std::string cut = dir.File("cut.m2v");
    WriteFileBytes(cut, std::vector<std::uint8_t>(
                            bytes.begin() + static_cast<std::ptrdiff_t>(start), bytes.end()));

    constexpr int kFrames = 12;  // one group of pictures
    std::vector<DecodedFrame> frames;
    ASSERT_EQ(mpegsnap::DecodeFrames(cut, kFrames, frames), kFrames);
    const std::vector<std::uint8_t> raw = DecodeWithFfmpeg(cut, "yuv420p", kFrames);
    ASSERT_EQ(frames[0].pictureType, 1);
    const int first = frames[0].temporalReference;
    int compared = 0;
    for (const DecodedFrame& frame : frames) {
        if (frame.temporalReference < first) continue;  // leading B pictures
        EXPECT_GE(FramePsnr(frame, raw, frame.temporalReference - first), kPredictedPsnr)
            << "type " << frame.pictureType << ", temporal reference " << frame.temporalReference;
        ++compared;
    }
    EXPECT_GE(compared, 9);
}

TEST(ProgramStream, DecodesLikeItsElementaryStream) {
    REQUIRE_FFMPEG();
    TempDir dir;
    const std::string source = "-f lavfi -i testsrc2=size=352x288:rate=25 -frames:v 4 ";
    const std::string es = dir.File("video.m2v");
    ASSERT_TRUE(
        RunFfmpeg(source + "-c:v mpeg2video -g 12 -bf 2 -q:v 3 -f mpeg2video '" + es + "'"));
    // MPEG-2 program stream (DVD flavour) and MPEG-1 system stream.
    const std::string vob = dir.File("video.vob");
    ASSERT_TRUE(RunFfmpeg("-i '" + es + "' -c copy -f vob '" + vob + "'"));
    const std::string mpeg1 = dir.File("video1.mpg");
    ASSERT_TRUE(RunFfmpeg(source + "-c:v mpeg1video -g 12 -bf 2 -q:v 3 -f mpeg '" + mpeg1 + "'"));

    std::vector<DecodedFrame> fromEs, fromVob, fromMpeg1;
    ASSERT_EQ(mpegsnap::DecodeFrames(es, 4, fromEs), 4);
    ASSERT_EQ(mpegsnap::DecodeFrames(vob, 4, fromVob), 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(fromVob[static_cast<std::size_t>(i)].y, fromEs[static_cast<std::size_t>(i)].y);
        EXPECT_EQ(fromVob[static_cast<std::size_t>(i)].cr, fromEs[static_cast<std::size_t>(i)].cr);
    }
    ASSERT_EQ(mpegsnap::DecodeFrames(mpeg1, 1, fromMpeg1), 1);
    EXPECT_FALSE(fromMpeg1[0].mpeg2);
    const std::vector<std::uint8_t> raw = DecodeWithFfmpeg(mpeg1, "yuv420p", 1);
    EXPECT_GE(FramePsnr(fromMpeg1[0], raw, 0), kIntraPsnr);
}

// DecodeSnapshot's results and files.
class SnapshotFile : public testing::Test {
  protected:
    void SetUp() override {
        if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
        m_stream = m_dir.File("pic.m2v");
        ASSERT_TRUE(
            RunFfmpeg("-f lavfi -i testsrc2=size=352x288:rate=25 -frames:v 3 -c:v "
                      "mpeg2video -g 12 -bf 2 -q:v 3 -f mpeg2video '" +
                      m_stream + "'"));
        m_bytes = ReadFileBytes(m_stream);
    }
    std::string Write(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        const std::string path = m_dir.File(name);
        WriteFileBytes(path, bytes);
        return path;
    }

    TempDir m_dir;
    std::string m_stream;
    std::vector<std::uint8_t> m_bytes;
};

TEST_F(SnapshotFile, WritesTheFirstFrameAsBitmap) {
    const std::string bmp = m_dir.File("pic.bmp");
    EXPECT_EQ(mpegsnap::DecodeSnapshot(m_stream, bmp), 0);
    const std::vector<std::uint8_t> file = ReadFileBytes(bmp);
    ASSERT_EQ(file.size(), 54u + 352u * 3u * 288u);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');

    // The same picture through ffmpeg's decode and our own converter.
    std::vector<DecodedFrame> frames;
    ASSERT_EQ(mpegsnap::DecodeFrames(m_stream, 1, frames), 1);
    std::vector<std::uint8_t> expected(file.size());
    mpegsnap::BitmapConverter converter;
    ASSERT_EQ(converter.ConvertFrame(5, frames[0].View(), expected.data(), expected.size()),
              static_cast<int>(file.size()));
    EXPECT_EQ(file, expected);
}

TEST_F(SnapshotFile, OutputPatternTakesTheNumberOne) {
    EXPECT_EQ(mpegsnap::DecodeSnapshot(m_stream, m_dir.File("pic%d.bmp")), 0);
    EXPECT_TRUE(std::filesystem::exists(m_dir.File("pic1.bmp")));
    // Other conversions stay as they are instead of reading missing arguments.
    EXPECT_EQ(mpegsnap::DecodeSnapshot(m_stream, m_dir.File("a%s%n.bmp")), 0);
    EXPECT_TRUE(std::filesystem::exists(m_dir.File("a%s%n.bmp")));
}

TEST_F(SnapshotFile, TransportStreamIsRefused) {
    std::vector<std::uint8_t> ts(188 * 4, 0xFF);
    for (std::size_t i = 0; i < ts.size(); i += 188)
        ts[i] = 0x47;
    const std::string bmp = m_dir.File("ts.bmp");
    EXPECT_EQ(mpegsnap::DecodeSnapshot(Write("x.ts", ts), bmp), 1);
    EXPECT_FALSE(std::filesystem::exists(bmp));
}

TEST_F(SnapshotFile, StreamStartingWithPictureHeaderIsRefused) {
    std::size_t picture = 0;
    for (std::size_t i = 0; i + 3 < m_bytes.size(); ++i)
        if (m_bytes[i] == 0 && m_bytes[i + 1] == 0 && m_bytes[i + 2] == 1 && m_bytes[i + 3] == 0) {
            picture = i;
            break;
        }
    ASSERT_GT(picture, 0u);
    const std::vector<std::uint8_t> rest(m_bytes.begin() + static_cast<std::ptrdiff_t>(picture),
                                         m_bytes.end());
    const std::string bmp = m_dir.File("p.bmp");
    EXPECT_EQ(mpegsnap::DecodeSnapshot(Write("p.m2v", rest), bmp), 1);
    EXPECT_FALSE(std::filesystem::exists(bmp));
}

TEST_F(SnapshotFile, TruncatedInputWritesNothing) {
    const std::vector<std::uint8_t> cut = CutFirstPicture(m_bytes);
    for (const std::size_t keep : {cut.size() / 2, std::size_t{12}, std::size_t{40}}) {
        const std::vector<std::uint8_t> head(cut.begin(),
                                             cut.begin() + static_cast<std::ptrdiff_t>(keep));
        const std::string bmp = m_dir.File("t" + std::to_string(keep) + ".bmp");
        const int result = mpegsnap::DecodeSnapshot(Write("t.m2v", head), bmp);
        EXPECT_EQ(result, keep == 12 ? 1 : 0) << keep;  // 12 bytes: not even the header
        EXPECT_FALSE(std::filesystem::exists(bmp)) << keep;
    }
}

TEST_F(SnapshotFile, MissingInputAndEmptyInput) {
    EXPECT_EQ(mpegsnap::DecodeSnapshot(m_dir.File("none.m2v"), m_dir.File("n.bmp")), 1);
    EXPECT_EQ(mpegsnap::DecodeSnapshot(Write("e.m2v", {}), m_dir.File("e.bmp")), 1);
    EXPECT_FALSE(std::filesystem::exists(m_dir.File("n.bmp")));
}

TEST_F(SnapshotFile, OversizedPictureIsRefused) {
    // Patch the sequence header to 4000 x 288: beyond what the decoder takes.
    std::vector<std::uint8_t> bytes = m_bytes;
    ASSERT_EQ(bytes[3], 0xB3);
    bytes[4] = 0xFA;  // 0xFA0 = 4000
    bytes[5] = static_cast<std::uint8_t>((bytes[5] & 0x0F));
    EXPECT_EQ(mpegsnap::DecodeSnapshot(Write("big.m2v", bytes), m_dir.File("big.bmp")), 1);
    bytes[4] = 0;  // width 0
    EXPECT_EQ(mpegsnap::DecodeSnapshot(Write("zero.m2v", bytes), m_dir.File("zero.bmp")), 1);
}

TEST_F(SnapshotFile, FirstPredictedPictureUsesGreyReferences) {
    // Remove the I picture: the P picture after it predicts from grey.
    std::vector<std::size_t> pictures;
    for (std::size_t i = 0; i + 3 < m_bytes.size(); ++i)
        if (m_bytes[i] == 0 && m_bytes[i + 1] == 0 && m_bytes[i + 2] == 1 && m_bytes[i + 3] == 0)
            pictures.push_back(i);
    ASSERT_GE(pictures.size(), 2u);
    std::vector<std::uint8_t> bytes(m_bytes.begin(),
                                    m_bytes.begin() + static_cast<std::ptrdiff_t>(pictures[0]));
    bytes.insert(bytes.end(), m_bytes.begin() + static_cast<std::ptrdiff_t>(pictures[1]),
                 m_bytes.end());
    std::vector<DecodedFrame> frames;
    ASSERT_EQ(mpegsnap::DecodeFramesFromMemory(bytes.data(), bytes.size(), 1, frames), 1);
    EXPECT_EQ(frames[0].pictureType, 2);
}

TEST_F(SnapshotFile, LaterSequenceHeaderWithOtherSizeIsIgnored) {
    // A second sequence header announcing 720 x 576 in front of the second
    // picture must not change the frame layout decoded so far.
    const std::vector<std::uint8_t> cut = CutFirstPicture(m_bytes);
    std::vector<std::uint8_t> bytes(cut.begin(), cut.end() - 4);
    std::vector<std::uint8_t> header(m_bytes.begin(), m_bytes.begin() + 12);
    header[4] = 0x2D;  // 720 x 576
    header[5] = 0x02;
    header[6] = 0x40;
    bytes.insert(bytes.end(), header.begin(), header.end());
    bytes.insert(bytes.end(), cut.begin() + 12, cut.end());
    std::vector<DecodedFrame> frames;
    ASSERT_EQ(mpegsnap::DecodeFramesFromMemory(bytes.data(), bytes.size(), 2, frames), 2);
    EXPECT_EQ(frames[1].width, 352);
    EXPECT_EQ(frames[1].height, 288);
    EXPECT_EQ(frames[1].y, frames[0].y);
}

}  // namespace
