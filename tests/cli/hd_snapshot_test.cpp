// ravelo-cli snapshot and marks on HD recordings: the picture written at ten
// positions is ffmpeg's decode of the random-access point the rules choose;
// marks by time land on random-access points and are stored as such.

#include <gtest/gtest.h>

#include <regex>

#include "cli_runner.h"
#include "support/hd_media.h"
#include "support/run_command.h"

namespace {

struct Shot {
    std::int64_t sector = -1, pts = -1;
    int width = 0, height = 0;
    std::string codec;
};

Shot parseShot(const std::string& json) {
    static const std::regex shape(
        R"re(\{"sector": (\d+), "pts": (\d+), "width": (\d+), "height": (\d+), "codec": "(\w+)"\})re");
    std::smatch m;
    Shot s;
    if (!std::regex_search(json, m, shape)) return s;
    s.sector = std::stoll(m[1]);
    s.pts = std::stoll(m[2]);
    s.width = std::stoi(m[3]);
    s.height = std::stoi(m[4]);
    s.codec = m[5];
    return s;
}

void expectTenPicturesAsFfmpeg(const std::string& recording, const std::string& codec, int width,
                               int height) {
    TempDir dir;
    std::vector<hdmedia::Packet> points;
    for (const hdmedia::Packet& p : hdmedia::VideoPackets(recording))
        if (p.key) points.push_back(p);
    const std::uint64_t sectors = std::filesystem::file_size(recording) / 512;
    for (int i = 0; i < 10; ++i) {
        const std::uint64_t sector = sectors * static_cast<std::uint64_t>(i) / 12;
        SCOPED_TRACE("sector " + std::to_string(sector));
        const CliResult r =
            RunCli("snapshot " + ShellQuote(recording) + " --sector " + std::to_string(sector) +
                       " -o " + ShellQuote(dir.File("pic.yuv")) + " --format yuv --json",
                   dir);
        ASSERT_EQ(r.code, 0) << r.err;
        const Shot shot = parseShot(r.out);
        EXPECT_EQ(shot.codec, codec);
        EXPECT_EQ(shot.width, width);
        EXPECT_EQ(shot.height, height);
        // The rules' choice: the first random-access point whose first
        // packet ends behind the sector searched from.
        const auto next = std::find_if(points.begin(), points.end(), [&](const hdmedia::Packet& p) {
            return static_cast<std::uint64_t>(p.pos + 188) > sector * 512;
        });
        ASSERT_NE(next, points.end());
        EXPECT_EQ(shot.pts, next->pts);
        EXPECT_EQ(shot.sector, (next->pos + 188) / 512 - 1);
        const auto psnr =
            hdmedia::PlanePsnr(ReadFileBytes(dir.File("pic.yuv")),
                               hdmedia::FfmpegPicture(recording, shot.pts), width, height);
        for (double plane : psnr)
            EXPECT_GE(plane, 45.0);
    }
}

TEST(HdSnapshot, TenPicturesOfAnH264RecordingAsFfmpegDecodesThem) {
    expectTenPicturesAsFfmpeg(hdmedia::H264Interlaced(), "h264", 1920, 1080);
}

TEST(HdSnapshot, TenPicturesOfAnHevcRecordingAsFfmpegDecodesThem) {
    expectTenPicturesAsFfmpeg(hdmedia::HevcOpenGop(), "hevc", 640, 360);
    expectTenPicturesAsFfmpeg(hdmedia::HevcClosedGop10Bit(), "hevc", 640, 360);
}

TEST(HdSnapshot, BitmapsAtTheStreamsOwnSize) {
    TempDir dir;
    const std::string real =
        std::string(RAVELO_REAL_CAPTURES) + "/sat_h264_damaged_partly_scrambled_bigpmt.ts";
    CliResult r = RunCli("snapshot " + ShellQuote(real) + " --sector 0 -o " +
                             ShellQuote(dir.File("real.bmp")) + " --json",
                         dir);
    ASSERT_EQ(r.code, 0) << r.err;
    const Shot shot = parseShot(r.out);
    EXPECT_EQ(shot.pts, 8337146048);
    EXPECT_EQ(shot.codec, "h264");
    const auto bmp = ReadFileBytes(dir.File("real.bmp"));
    ASSERT_EQ(bmp.size(), 54u + 1920u * 3u * 1080u);
    EXPECT_EQ(bmp[18] | (bmp[19] << 8), 1920);
    // ffmpeg takes the bitmap for what it is.
    const auto probe = hdmedia::StreamFields(dir.File("real.bmp"), "v:0");
    EXPECT_EQ(probe.at("width"), "1920");
    EXPECT_EQ(probe.at("height"), "1080");
    // MPEG-2 as before: the JSON names its codec too.
    r = RunCli("snapshot " + ShellQuote(std::string(RAVELO_SOURCE_DIR) + "/samples/sample.ts") +
                   " --time 0:00:02 -o " + ShellQuote(dir.File("s.bmp")) + " --json",
               dir);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(parseShot(r.out).codec, "mpeg2");
    EXPECT_EQ(parseShot(r.out).width, 720);
}

TEST(HdSnapshot, MarksByTimeLandOnRandomAccessPoints) {
    TempDir dir;
    const std::string recording = hdmedia::H264Interlaced();
    std::vector<hdmedia::Packet> points;
    for (const hdmedia::Packet& p : hdmedia::VideoPackets(recording))
        if (p.key) points.push_back(p);
    // 0.5 s lands on the point at 0.96 s, 2 s on the one at 2.88 s.
    CliResult r = RunCli("cuts " + ShellQuote(recording) + " --add 0:00:00.500-0:00:02", dir);
    ASSERT_EQ(r.code, 0) << r.err;
    r = RunCli("info --json " + ShellQuote(recording), dir);
    const std::string area =
        "{\"sector_start\": " + std::to_string((points[1].pos + 188) / 512 - 1) +
        ", \"sector_end\": " + std::to_string((points[3].pos + 188) / 512 - 1) +
        ", \"pts_start\": " + std::to_string(points[1].pts) +
        ", \"pts_end\": " + std::to_string(points[3].pts) +
        ", \"start\": \"0:00:00.960\", \"end\": \"0:00:02.880\", \"enabled\": true}";
    EXPECT_NE(r.out.find(area), std::string::npos) << r.out;
}

TEST(HdSnapshot, AMarkAfterTheLastRandomAccessPointGoesToTheEnd) {
    // Random-access points at 0, 0.96 and 1.92 s of 2 s: the last GOP is
    // longer than the tail the window searches from the end. Before, the end
    // mark stayed behind the last point with no stamp, and no job cut the
    // area; its time showed as a negative one.
    TempDir dir;
    const std::string recording = dir.File("r.ts");
    std::filesystem::copy_file(hdmedia::H264PlainIntra(), recording);
    CliResult r = RunCli("cuts " + ShellQuote(recording) + " --add 0:00:00.500-0:00:01.960", dir);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find(", 0:00:00.960-end"), std::string::npos) << r.out;
    r = RunCli("info --json " + ShellQuote(recording), dir);
    const std::string area =
        "\"sector_end\": " + std::to_string(std::filesystem::file_size(recording) / 512) +
        ", \"pts_start\": 306000, \"pts_end\": 0, \"start\": \"0:00:00.960\", \"end\": null";
    EXPECT_NE(r.out.find(area), std::string::npos) << r.out;
    // The export keeps the pictures before the area: up to the point at
    // 0.96 s, without the three B pictures that lead it.
    r = RunCli("demux " + ShellQuote(recording) + " -o " + ShellQuote(dir.Path().string()), dir);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(RunCommand("ffprobe -v error -count_frames -show_entries stream=nb_read_frames "
                         "-of csv=p=0 " + ShellQuote(dir.File("r.h264"))),
              "21\n");
}

}  // namespace
