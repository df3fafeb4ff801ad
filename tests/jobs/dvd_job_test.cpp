// The program-stream jobs as a user burning a DVD runs them: dvdauthor takes
// every .mpg and .vob as a title and completes the title set, the decoder
// model holds on them, and the mux rate is the one the streams allow.

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "job_fixture.h"
#include "platform/file.h"
#include "support/pstd_checker.h"

namespace jobs {
namespace {

// dvdauthor's complaints about a title: errors and sectors it skips.
std::string AuthoringErrors(const std::string& file, const std::string& dir) {
    std::filesystem::remove_all(dir);
    const std::string env = "VIDEO_FORMAT=PAL ";
    // The title set first, then the table of contents over it.
    std::string out = RunShell(env + "dvdauthor -o '" + dir + "' -t '" + file + "' 2>&1");
    out += RunShell(env + "dvdauthor -o '" + dir + "' -T 2>&1");
    std::istringstream lines(out);
    std::string line, bad;
    while (std::getline(lines, line))
        if (line.find("ERR") != std::string::npos || line.find("Skipping") != std::string::npos)
            bad += line + "\n";
    for (const char* made : {"/VIDEO_TS/VTS_01_1.VOB", "/VIDEO_TS/VTS_01_0.IFO", "/VIDEO_TS/VIDEO_TS.IFO"})
        if (!platform::FileExists(dir + made)) bad += std::string("no ") + made + "\n";
    return bad.empty() ? bad : bad + "dvdauthor said:\n" + out;
}

// DVD-ready, with the start-up delay and one VOBU per GOP.
void ExpectModelHolds(const pstd::Report& r) {
    EXPECT_EQ(pstd::Faults(r), "");
    EXPECT_EQ(r.StartDelay(), 45000);
    EXPECT_GT(r.gops, 0);
    EXPECT_EQ(r.navPacks, r.gops);
}

double First(const std::vector<double>& times) {
    return times.empty() ? -1 : *std::min_element(times.begin(), times.end());
}

class DvdJobTest : public JobTest {
protected:
    void SetUp() override {
        JobTest::SetUp();
        ASSERT_NE(RunShell("command -v dvdauthor"), "") << "dvdauthor is missing (scripts/deps.sh)";
    }
    // Runs a job and checks its output as a DVD title; returns the report.
    pstd::Report RunAndAuthor(OutputKind kind, std::uint16_t audio, const std::string& name) {
        m_prompts.answers = {PromptAnswer::Yes};
        EXPECT_NE(RunJob(kind, audio), JobResult::Failed) << Lines();
        const std::string file = Output(name);
        EXPECT_EQ(AuthoringErrors(file, m_dir.File("dvd")), "") << file;
        EXPECT_EQ(DecodeErrors(file), "") << file;
        const pstd::Report r = pstd::CheckFile(file);
        SCOPED_TRACE(file);
        ExpectModelHolds(r);
        EXPECT_FALSE(Logged("Warning")) << Lines();
        return r;
    }
};

TEST_F(DvdJobTest, SampleOutputsAreDvdTitlesInSync) {
    const std::string sample = std::string(RAVELO_SOURCE_DIR) + "/samples/sample.ts";
    Open(sample);
    const pstd::Report mpg = RunAndAuthor(OutputMpeg, 0x101, "sample.mpg");
    EXPECT_TRUE(Logged("Re-memuxing recording to one single MPEG PS: ")) << Lines();
    EXPECT_EQ(mpg.muxRates, std::set<std::uint32_t>{25200});
    EXPECT_EQ(mpg.streams.size(), 2u);

    const pstd::Report vob = RunAndAuthor(OutputVob, 0, "sample.vob");
    EXPECT_TRUE(Logged("Re-memuxing recording to VOB: ")) << Lines();
    EXPECT_EQ(vob.muxRates, std::set<std::uint32_t>{25200});
    EXPECT_EQ(vob.streams.size(), 4u);
    const std::string file = Output("sample.vob");
    for (const char* audio : {"a:0", "a:1", "a:2"})
        EXPECT_LT(std::abs(First(PacketTimes(file, audio)) - First(PacketTimes(file, "v:0"))), 0.04)
            << audio;

    // The sample's 6 Mbit/s do not fit into the AC-3 mux rate.
    const pstd::Report ac3 = RunAndAuthor(OutputMpeg, 0x103, "sample.mpg");
    EXPECT_NE(ac3.Stream(0xBD, 0x80), nullptr);
    EXPECT_EQ(ac3.packRates.back(), 25200u);
}

// The window's audio choice holds for the VOB as for the program stream:
// the video and that one audio stream.
TEST_F(DvdJobTest, VobWithAnAudioChoiceKeepsThatStreamOnly) {
    const std::string sample = std::string(RAVELO_SOURCE_DIR) + "/samples/sample.ts";
    Open(sample);
    const pstd::Report vob = RunAndAuthor(OutputVob, 0x102, "sample.vob");
    EXPECT_EQ(vob.streams.size(), 2u);
    ASSERT_NE(vob.Stream(0xC0), nullptr);
    EXPECT_EQ(ProbeRows("-show_entries stream=codec_name " + Output("sample.vob")),
              (std::vector<std::string>{"dvd_nav_packet", "mpeg2video", "mp2"}));
}

// A low-rate recording with AC-3: the program stream announces the AC-3 mux
// rate from its first AC-3 pack on; the VOB keeps the DVD rate.
TEST_F(DvdJobTest, Ac3MuxRateInTheProgramStreamFixedRateInTheVob) {
    const std::string rec = m_dir.File("rec.ts");
    RecordingOptions o;
    o.seconds = 6;
    o.extra = "-b:v 600k";
    MakeRecording(rec, o);
    Open(rec);
    const pstd::Report ac3 = RunAndAuthor(OutputMpeg, 0x103, "rec.mpg");
    const std::vector<unsigned char> file = ReadFileBytes(Output("rec.mpg"));
    std::size_t firstAc3 = 0;
    for (std::size_t at = 0; at + 2048 <= file.size() && firstAc3 == 0; at += 2048)
        if (file[at + 14 + (file[at + 13] & 7) + 3] == 0xBD) firstAc3 = at / 2048;
    ASSERT_GT(firstAc3, 0u);
    for (std::size_t i = 0; i < ac3.packRates.size(); ++i)
        ASSERT_EQ(ac3.packRates[i], i < firstAc3 ? 25200u : 10750u) << i;

    EXPECT_EQ(RunAndAuthor(OutputMpeg, 0x101, "rec.mpg").muxRates, std::set<std::uint32_t>{25200});
    const pstd::Report vob = RunAndAuthor(OutputVob, 0, "rec.vob");
    EXPECT_EQ(vob.muxRates, std::set<std::uint32_t>{25200});
    EXPECT_NE(vob.Stream(0xBD, 0x80), nullptr);
}

// The audio ends 16 s before the video: no unit late, the SCR never going
// back, and the sound starts with the pictures.
TEST_F(DvdJobTest, AudioEndingSixteenSecondsEarly) {
    const std::string rec = m_dir.File("rec.ts");
    const std::string out = RunShell(
        "ffmpeg -hide_banner -loglevel error -y -f lavfi -i testsrc2=size=352x288:rate=25 "
        "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=8 -map 0:v -map 1:a -t 24 "
        "-c:v mpeg2video -b:v 1500k -g 12 -bf 2 -pix_fmt yuv420p -c:a mp2 -b:a 192k "
        "-pes_payload_size 0 -mpegts_start_pid 0x100 -f mpegts -mpegts_flags system_b "
        "-output_ts_offset 80000 '" + rec + "' 2>&1");
    ASSERT_EQ(out, "");
    Open(rec);
    for (OutputKind kind : {OutputMpeg, OutputVob}) {
        const std::string name = kind == OutputVob ? "rec.vob" : "rec.mpg";
        const pstd::Report r = RunAndAuthor(kind, 0x101, name);
        ASSERT_NE(r.Stream(0xE0), nullptr);
        ASSERT_NE(r.Stream(0xC0), nullptr);
        // The data ends inside the last GOP: it ends at its last whole I or
        // P picture, so up to three of the 600 pictures are not written.
        EXPECT_GE(r.Stream(0xE0)->units, 597);
        EXPECT_LE(r.Stream(0xE0)->units, 600);
        EXPECT_NEAR(r.Stream(0xC0)->units, 8000 / 24, 2);
        const std::string file = Output(name);
        EXPECT_LT(std::abs(First(PacketTimes(file, "a:0")) - First(PacketTimes(file, "v:0"))), 0.024);
    }
}

// The real captures that hold MPEG-2 video make titles as well.
TEST_F(DvdJobTest, RealCapturesWithVideoAreDvdTitles) {
    int captures = 0;
    for (const auto& entry : std::filesystem::directory_iterator(std::string(RAVELO_REAL_CAPTURES))) {
        const std::string name = entry.path().stem().string();
        if (entry.path().extension() != ".ts" || name.find("mpeg2") == std::string::npos ||
            name.find("damaged") != std::string::npos)
            continue;
        SCOPED_TRACE(name);
        m_model.CloseWithoutSaving();
        Open(entry.path().string());
        RunAndAuthor(OutputMpeg, m_model.m_audioPid, name + ".mpg");
        RunAndAuthor(OutputVob, 0, name + ".vob");
        ++captures;
    }
    EXPECT_GE(captures, 4);
}

}  // namespace
}  // namespace jobs
