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
    const char* codec;        // ffmpeg encoder
    const char* format;       // ffmpeg muxer
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
const std::string kLoadedMatricesPredicted =
    std::string("-g 12 -bf 2 -q:v 3 -intra_matrix ") + kIntraMatrix + " -inter_matrix " +
    kInterMatrix;

INSTANTIATE_TEST_SUITE_P(
    Streams, EncoderComparison,
    testing::Values(
        EncoderCase{"Mpeg2IPB", "mpeg2video", "mpeg2video", "yuv420p", "352x288",
                    "-g 12 -bf 2 -q:v 3", 8},
        EncoderCase{"Mpeg2HighQuality", "mpeg2video", "mpeg2video", "yuv420p", "176x144",
                    "-g 12 -bf 2 -q:v 1 -qmin 1", 5},
        EncoderCase{"Mpeg2IntraVlcAlternateScanNonLinear", "mpeg2video", "mpeg2video", "yuv420p",
                    "352x288",
                    "-g 12 -bf 2 -q:v 2 -qmax 28 -intra_vlc 1 -alternate_scan 1 -non_linear_quant 1 -dc 10",
                    6},
        EncoderCase{"Mpeg2LoadedMatrixIntraOnly", "mpeg2video", "mpeg2video", "yuv420p", "352x288",
                    kLoadedMatrices.c_str(), 3},
        EncoderCase{"Mpeg2LoadedMatricesPredicted", "mpeg2video", "mpeg2video", "yuv420p",
                    "176x144", kLoadedMatricesPredicted.c_str(), 5},
        EncoderCase{"Mpeg2InterlacedFieldDctFieldPrediction", "mpeg2video", "mpeg2video",
                    "yuv420p", "352x288", "-g 12 -bf 2 -q:v 3 -flags +ildct+ilme -top 1", 8},
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
