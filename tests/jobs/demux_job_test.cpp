// The demultiplexing jobs end to end: ffmpeg-made recordings in, every output
// decoded by ffmpeg without a message, pictures counted, time stamps compared.

#include <sys/resource.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <sstream>

#include "job_fixture.h"
#include "support/pstd_checker.h"
#include "platform/file.h"
#include "platform/key_state.h"
#include "shell/preferences.h"

namespace jobs {
namespace {

constexpr double kMp2Frame = 0.024;

std::uint64_t Fnv(const std::string& path) {
    std::uint64_t h = 1469598103934665603ull;
    for (unsigned char c : ReadFileBytes(path)) h = (h ^ c) * 1099511628211ull;
    return h;
}

// Packs of 2048 bytes that a decoder with DVD buffers plays without a unit
// coming late or a buffer overflowing, the SCR rising at the mux rate, a
// navigation pack at every GOP (see pstd_checker.h).
void ExpectDecoderModelHolds(const std::string& path) {
    EXPECT_EQ(pstd::Faults(pstd::CheckFile(path)), "") << path;
}

// Every picture of the source from its first sequence header on. The data
// can end inside the last picture: it is left out, and so are the I or P
// picture before it and the B picture between (shown before and after it).
void ExpectPictures(int actual, int source) {
    EXPECT_TRUE(actual <= source && actual >= source - 3) << actual << " of " << source;
}

double First(const std::vector<double>& times) {
    return times.empty() ? -1 : *std::min_element(times.begin(), times.end());
}

class DemuxJobTest : public JobTest {};

// The committed sample: golden hashes of every output, clean decodes, and
// the pictures of the source all there.
TEST_F(DemuxJobTest, SampleGivesGoldenCleanOutputsOfAllThreeJobs) {
    const std::string sample = std::string(RAVELO_SOURCE_DIR) + "/samples/sample.ts";
    Open(sample);
    ASSERT_EQ(RunJob(OutputEs), JobResult::Done) << Lines();
    EXPECT_TRUE(Logged("Done, ")) << Lines();
    for (const char* name : {"sample.m2v", "sample.mp2", "sample(2).mp2", "sample.ac3"})
        EXPECT_EQ(DecodeErrors(Output(name)), "") << name;
    ExpectPictures(FrameCount(Output("sample.m2v"), "v:0"), FrameCount(sample, "v:0"));
    EXPECT_EQ(Fnv(Output("sample.m2v")), 14259047997385266495ull) << "golden";
    EXPECT_EQ(Fnv(Output("sample.mp2")), 5914529049942048645ull) << "golden";
    EXPECT_EQ(Fnv(Output("sample.ac3")), 9417588143615728148ull) << "golden";

    ASSERT_EQ(RunJob(OutputMpeg, 0x101), JobResult::Done) << Lines();
    const std::string mpg = Output("sample.mpg");
    EXPECT_EQ(DecodeErrors(mpg), "");
    EXPECT_EQ(ProbeRows("-show_entries format=format_name " + mpg),
              std::vector<std::string>{"mpeg"});
    // The navigation packs show as a data stream.
    EXPECT_EQ(ProbeRows("-show_entries stream=codec_type " + mpg),
              (std::vector<std::string>{"data", "video", "audio"}));
    ExpectPictures(FrameCount(mpg, "v:0"), FrameCount(sample, "v:0"));
    EXPECT_LT(std::abs(First(PacketTimes(mpg, "a:0")) - First(PacketTimes(mpg, "v:0"))), kMp2Frame);
    EXPECT_EQ(Fnv(mpg), 14608703980760072542ull) << "golden";
    ExpectDecoderModelHolds(mpg);

    ASSERT_EQ(RunJob(OutputVob), JobResult::Done) << Lines();
    const std::string vob = Output("sample.vob");
    EXPECT_EQ(DecodeErrors(vob), "");
    EXPECT_EQ(ProbeRows("-show_entries stream=codec_name,id " + vob),
              (std::vector<std::string>{"dvd_nav_packet,0x1bf", "mpeg2video,0x1e0", "mp2,0x1c0",
                                        "mp2,0x1c1", "ac3,0x80"}));
    EXPECT_EQ(Fnv(vob), 15591320340140603920ull) << "golden";
    ExpectDecoderModelHolds(vob);
}

// Runs the three jobs on a recording and checks what every job must give:
// clean decodes, the source's pictures from its first sequence header on, a
// program stream of one video and one audio stream starting together.
void ExpectCleanJobs(const std::function<JobResult(OutputKind, std::uint16_t)>& run,
                     const std::function<std::string(const std::string&)>& output,
                     const std::string& source, int sourcePictures, int mp2Tracks, bool ac3,
                     double audioFrame) {
    ASSERT_NE(run(OutputEs, 0), JobResult::Failed);
    EXPECT_EQ(DecodeErrors(output("rec.m2v")), "");
    ExpectPictures(FrameCount(output("rec.m2v"), "v:0"), sourcePictures);
    for (int i = 0; i < mp2Tracks; ++i) {
        const std::string name = i == 0 ? "rec.mp2" : "rec(" + std::to_string(i + 1) + ").mp2";
        EXPECT_EQ(DecodeErrors(output(name)), "") << name;
        EXPECT_GT(FrameCount(output(name), "a:0"), 0) << name;
    }
    if (ac3) {
        EXPECT_EQ(DecodeErrors(output("rec.ac3")), "");
    }

    ASSERT_NE(run(OutputMpeg, 0x101), JobResult::Failed);
    const std::string mpg = output("rec.mpg");
    EXPECT_EQ(DecodeErrors(mpg), "");
    auto types = ProbeRows("-show_entries stream=codec_type " + mpg);
    std::sort(types.begin(), types.end());
    EXPECT_EQ(types, (std::vector<std::string>{"audio", "data", "video"}));
    ExpectPictures(FrameCount(mpg, "v:0"), sourcePictures);
    EXPECT_LT(std::abs(First(PacketTimes(mpg, "a:0")) - First(PacketTimes(mpg, "v:0"))),
              audioFrame);

    ASSERT_NE(run(OutputVob, 0), JobResult::Failed);
    EXPECT_EQ(DecodeErrors(output("rec.vob")), "");
    ExpectPictures(FrameCount(output("rec.vob"), "v:0"), sourcePictures);
    ExpectDecoderModelHolds(mpg);
    ExpectDecoderModelHolds(output("rec.vob"));
    (void)source;
}

struct Variant {
    const char* name;
    RecordingOptions options;
    double audioFrame;
};

class GeneratedRecordingTest : public JobTest, public ::testing::WithParamInterface<Variant> {};

TEST_P(GeneratedRecordingTest, AllJobsGiveCleanCompleteOutputs) {
    const Variant& v = GetParam();
    const std::string rec = m_dir.File("rec.ts");
    MakeRecording(rec, v.options);
    Open(rec);
    ExpectCleanJobs(
        [this](OutputKind k, std::uint16_t pid) { return RunJob(k, pid); },
        [this](const std::string& n) { return Output(n); }, rec, FrameCount(rec, "v:0"),
        v.options.mp2Tracks, v.options.ac3, v.audioFrame);
    EXPECT_FALSE(Logged("Found invalid")) << Lines();
    EXPECT_FALSE(Logged("Failed")) << Lines();
}

RecordingOptions Opts(std::function<void(RecordingOptions&)> f) {
    RecordingOptions o;
    f(o);
    return o;
}

INSTANTIATE_TEST_SUITE_P(
    Recordings, GeneratedRecordingTest,
    ::testing::Values(
        Variant{"open_gops_three_tracks", Opts([](RecordingOptions&) {}), kMp2Frame},
        // The 33-bit clock wraps 1.5 s into the recording.
        Variant{"clock_wrap", Opts([](RecordingOptions& o) { o.offset = 95443.7 - 1.5; }),
                kMp2Frame},
        // 44.1 kHz frames carry a padding byte now and then.
        Variant{"mp2_44k", Opts([](RecordingOptions& o) {
                    o.sampleRate = 44100;
                    o.ac3 = false;
                    o.mp2Tracks = 1;
                }),
                1152.0 / 44100},
        // 48 kbit/s frames (144 bytes) are shorter than a packet payload.
        Variant{"short_audio_frames", Opts([](RecordingOptions& o) {
                    o.mp2Kbits = 48;
                    o.ac3 = false;
                }),
                kMp2Frame}),
    [](const ::testing::TestParamInfo<Variant>& info) { return std::string(info.param.name); });

// A recording cut in the middle of a GOP: everything from the first
// sequence header on comes out.
TEST_F(DemuxJobTest, RecordingStartingMidGop) {
    const std::string full = m_dir.File("full.ts");
    MakeRecording(full, RecordingOptions{});
    auto bytes = ReadFileBytes(full);
    // Start 40 % into the file's first second: in the middle of a GOP.
    const std::size_t cut = (bytes.size() / 4 / 10 * 4 / 188) * 188;
    const std::string rec = m_dir.File("rec.ts");
    WriteFileBytes(rec, std::vector<unsigned char>(bytes.begin() + static_cast<long>(cut), bytes.end()));
    // Pictures from the first sequence header on: ffprobe counts the
    // undecodable pictures before it as well, so the source count is taken
    // from the ES of the full recording minus the GOPs before the cut.
    // The leading B pictures of that first GOP refer to a picture before the
    // cut: no decoder shows them, so pictures before the first I in display
    // order do not count.
    int kept = 0;
    std::int64_t keyPts = -1;
    for (const std::string& line :
         ProbeRows("-select_streams v:0 -show_entries packet=pts,pos,flags " + full)) {
        std::istringstream row(line);
        std::string pts, pos, flags;
        std::getline(row, pts, ',');
        std::getline(row, pos, ',');
        std::getline(row, flags, ',');
        if (std::stoull(pos) < cut) continue;
        if (keyPts < 0 && flags.find('K') != std::string::npos) keyPts = std::stoll(pts);
        if (keyPts >= 0 && std::stoll(pts) >= keyPts) ++kept;
    }
    Open(rec);
    ExpectCleanJobs(
        [this](OutputKind k, std::uint16_t pid) { return RunJob(k, pid); },
        [this](const std::string& n) { return Output(n); }, rec, kept, 2, true, kMp2Frame);
}

TEST_F(DemuxJobTest, GivenCutAreaIsLeftOutAndLeadingAreaIsRestored) {
    const std::string rec = m_dir.File("rec.ts");
    RecordingOptions o;
    o.seconds = 6;
    MakeRecording(rec, o);
    const auto bytes = ReadFileBytes(rec);
    const std::int64_t first = FirstPts(bytes, 0x100);
    // The area from 2 s to 4 s, by stamps and by sectors.
    CCutArea area;
    area.IsEnabled = true;
    area.PTSStart = first + 2 * 90000;
    area.PTSEnd = first + 4 * 90000;
    for (const std::string& line : ProbeRows("-select_streams v:0 -show_entries packet=pts,pos " + rec)) {
        const std::int64_t pts = std::stoll(line.substr(0, line.find(',')));
        const std::uint64_t pos = std::stoull(line.substr(line.find(',') + 1));
        if (pts <= area.PTSStart) area.SectorStart = pos / 512;
        if (pts <= area.PTSEnd) area.SectorEnd = pos / 512;
    }
    CCutArea leading;
    leading.IsEnabled = true;
    leading.SectorStart = 0;
    leading.SectorEnd = 1;
    leading.PTSStart = first - 90000;
    leading.PTSEnd = first - 45000;
    Open(rec, {leading, area});
    ASSERT_NE(RunJob(OutputMpeg, 0x101), JobResult::Failed) << Lines();
    const std::string mpg = Output("rec.mpg");
    EXPECT_EQ(DecodeErrors(mpg), "");
    const int pictures = FrameCount(mpg, "v:0");
    EXPECT_NEAR(pictures, 150 - 50, 12) << Lines();
    // The sound goes on after the area too: as long as the pictures kept,
    // within one GOP (MPEG audio leaves an area 160 ms early).
    EXPECT_NEAR(FrameCount(mpg, "a:0") * 24, pictures * 40, 480) << Lines();
    EXPECT_TRUE(m_model.m_cutList[0].IsEnabled);
    EXPECT_TRUE(m_model.m_cutList[1].IsEnabled);

    // With Ctrl held the cut list is not used.
    struct Ctrl : platform::IKeyState {
        bool IsCtrlDown() const override { return true; }
        bool IsShiftDown() const override { return false; }
    } ctrl;
    platform::SetKeyState(&ctrl);
    m_prompts.answers = {PromptAnswer::Yes};
    const JobResult all = RunJob(OutputMpeg, 0x101);
    platform::SetKeyState(nullptr);
    ASSERT_NE(all, JobResult::Failed);
    ExpectPictures(FrameCount(mpg, "v:0"), 150);
}

}  // namespace
}  // namespace jobs
