// ravelo-cli snapshot on our sample recording: the planes against ffmpeg's
// decode of the same picture, the bitmap, and bad arguments.

#include <gtest/gtest.h>

#include <filesystem>

#include "cli/cli_runner.h"
#include "decoder_test_support.h"
#include "mpegsnap/decoded_frame.h"

namespace {

const std::string kSample = std::string(RAVELO_SOURCE_DIR) + "/samples/sample.ts";

TEST(SnapshotCommand, FirstPictureAsPlanesMatchesFfmpeg) {
    if (!decodertest::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    TempDir dir;
    const std::string yuv = dir.File("first.yuv");
    const CliResult r = RunCli(
        "snapshot " + ShellQuote(kSample) + " --sector 0 -o " + ShellQuote(yuv) + " --format yuv",
        dir);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("Size:   720x576"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Time:   0:00:00.000"), std::string::npos) << r.out;

    // ffmpeg's first picture of the same video.
    const std::string video = dir.File("video.m2v");
    ASSERT_TRUE(decodertest::RunFfmpeg("-i " + ShellQuote(kSample) +
                                       " -map 0:v:0 -c copy -f mpeg2video " + ShellQuote(video)));
    const std::string first = dir.File("first.m2v");
    WriteFileBytes(first, decodertest::CutFirstPicture(ReadFileBytes(video)));
    const std::vector<std::uint8_t> raw = decodertest::DecodeWithFfmpeg(first, "yuv420p", 1);

    mpegsnap::DecodedFrame frame;
    frame.width = 720;
    frame.height = 576;
    const std::vector<std::uint8_t> planes = ReadFileBytes(yuv);
    ASSERT_EQ(planes.size(), 720u * 576u * 3u / 2u);
    frame.y.assign(planes.begin(), planes.begin() + 720 * 576);
    frame.cb.assign(planes.begin() + 720 * 576, planes.begin() + 720 * 576 * 5 / 4);
    frame.cr.assign(planes.begin() + 720 * 576 * 5 / 4, planes.end());
    EXPECT_GE(decodertest::FramePsnr(frame, raw, 0), 50.0);
}

TEST(SnapshotCommand, BitmapAtATime) {
    TempDir dir;
    const std::string bmp = dir.File("at.bmp");
    const CliResult r =
        RunCli("snapshot " + ShellQuote(kSample) + " --time 0:00:02.5 -o " + ShellQuote(bmp), dir);
    ASSERT_EQ(r.code, 0) << r.err;
    const std::vector<std::uint8_t> file = ReadFileBytes(bmp);
    ASSERT_EQ(file.size(), 1244214u);
    EXPECT_EQ(file[0], 'B');
    EXPECT_FALSE(std::filesystem::exists(bmp + ".part"));
    // The first picture at or after the time: groups of 12 pictures at 25/s.
    EXPECT_NE(r.out.find("Time:   0:00:02.880"), std::string::npos) << r.out;
}

TEST(SnapshotCommand, BadArgumentsAndNoPicture) {
    TempDir dir;
    const std::string out = dir.File("x.bmp");
    EXPECT_EQ(RunCli("snapshot " + ShellQuote(kSample) + " -o " + ShellQuote(out), dir).code, 2);
    EXPECT_EQ(RunCli("snapshot " + ShellQuote(kSample) + " --sector 0", dir).code, 2);
    EXPECT_EQ(RunCli("snapshot " + ShellQuote(kSample) + " --sector 0 -o " + ShellQuote(out) +
                         " --format png",
                     dir)
                  .code,
              2);
    EXPECT_EQ(
        RunCli("snapshot " + ShellQuote(kSample) + " --time 12 -o " + ShellQuote(out), dir).code,
        2);
    EXPECT_EQ(
        RunCli("snapshot " + ShellQuote(kSample) + " --sector x -o " + ShellQuote(out), dir).code,
        2);
    // A recording without video: nothing to decode, nothing written.
    const std::string radio =
        std::string(RAVELO_REAL_CAPTURES) + "/radio_mux_sync_loss_cc_errors.ts";
    if (std::filesystem::exists(radio)) {
        const CliResult r =
            RunCli("snapshot " + ShellQuote(radio) + " --sector 0 -o " + ShellQuote(out), dir);
        EXPECT_EQ(r.code, 2);
        EXPECT_NE(r.err.find("no picture found"), std::string::npos) << r.err;
    }
    EXPECT_FALSE(std::filesystem::exists(out));
}

}  // namespace
