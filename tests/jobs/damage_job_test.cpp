// Sync repair on recordings damaged by removing packets, and jobs that must
// end as failures, cancels or answered questions.

#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <map>
#include <optional>

#include "job_fixture.h"
#include "support/ts_builder.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "shell/preferences.h"

namespace jobs {
namespace {

constexpr std::int64_t kSecond = 90000;

// Where the audio ends against the video in a program stream: the end of the
// last audio frame minus the end of the last picture shown, in seconds. A
// repaired gap leaves it as the undamaged recording has it.
double EndOffset(const std::string& mpg) {
    const auto video = PacketTimes(mpg, "v:0");
    const auto audio = PacketTimes(mpg, "a:0");
    if (video.empty() || audio.empty()) return 1e9;
    return (*std::max_element(audio.begin(), audio.end()) + 0.024) -
           (*std::max_element(video.begin(), video.end()) + 0.04);
}

class DamageTest : public JobTest {
protected:
    // An undamaged recording of 10 s, its clean .mpg end offset, and the
    // first video PTS.
    void SetUp() override {
        JobTest::SetUp();
        RecordingOptions o;
        o.seconds = 10;
        o.ac3 = false;
        o.mp2Tracks = 1;
        MakeRecording(m_dir.File("clean.ts"), o);
        m_clean = ReadFileBytes(m_dir.File("clean.ts"));
        m_first = FirstPts(m_clean, 0x100);
    }

    // Runs the .mpg job on the damaged recording and, for comparison, on the
    // clean one; returns the damaged job's result.
    JobResult RunDamaged(const std::vector<unsigned char>& damaged) {
        WriteFileBytes(m_dir.File("rec.ts"), damaged);
        Open(m_dir.File("rec.ts"));
        const JobResult r = RunJob(OutputMpeg, 0x101);
        m_lines = Lines();
        m_damagedOffset = EndOffset(Output("rec.mpg"));
        EXPECT_EQ(DecodeErrors(Output("rec.mpg")), "");
        m_model.CloseWithoutSaving();
        Open(m_dir.File("clean.ts"));
        EXPECT_EQ(RunJob(OutputMpeg, 0x101), JobResult::Done) << Lines();
        m_cleanOffset = EndOffset(Output("clean.mpg"));
        return r;
    }
    bool Has(const std::string& text) const { return m_lines.find(text) != std::string::npos; }

    std::vector<unsigned char> m_clean;
    std::int64_t m_first = 0;
    std::string m_lines;
    double m_damagedOffset = 0;
    double m_cleanOffset = 0;
};

TEST_F(DamageTest, AudioGapOf100msIsPaddedWithSilence) {
    const auto damaged = RemovePackets(m_clean, {0x101}, m_first + 3 * kSecond,
                                       m_first + 3 * kSecond + 9000);
    EXPECT_EQ(RunDamaged(damaged), JobResult::DoneWithWarnings);
    EXPECT_TRUE(Has("   Missing sound frame(s) detected ")) << m_lines;
    EXPECT_TRUE(Has("   Padding with 'silence'")) << m_lines;
    EXPECT_NEAR(m_damagedOffset, m_cleanOffset, 0.030) << m_lines;
}

TEST_F(DamageTest, AudioGapOf1sDropsTheMatchingGops) {
    const auto damaged = RemovePackets(m_clean, {0x101}, m_first + 3 * kSecond,
                                       m_first + 4 * kSecond);
    EXPECT_EQ(RunDamaged(damaged), JobResult::DoneWithWarnings);
    EXPECT_TRUE(Has("   Too many missing sound frame(s) detected! ")) << m_lines;
    EXPECT_TRUE(Has("   Dropping corresponding GOP")) << m_lines;
    EXPECT_TRUE(Has("   Dropped GOPs!")) << m_lines;
    EXPECT_NEAR(m_damagedOffset, m_cleanOffset, 0.030) << m_lines;
    // About a second of pictures is gone.
    EXPECT_NEAR(FrameCount(Output("rec.mpg"), "v:0"), 250 - 25, 13);
}

TEST_F(DamageTest, VideoGapIsReportedAsMissingGop) {
    const auto damaged = RemovePackets(m_clean, {0x100}, m_first + 3 * kSecond,
                                       m_first + 3 * kSecond + 43200);
    EXPECT_EQ(RunDamaged(damaged), JobResult::DoneWithWarnings);
    EXPECT_TRUE(Has("   Missing GOP detected! ")) << m_lines;
    EXPECT_NEAR(m_damagedOffset, m_cleanOffset, 0.030) << m_lines;
}

TEST_F(DamageTest, SixSecondJumpIsReportedAsCut) {
    const auto damaged = RemovePackets(m_clean, {0x100, 0x101}, m_first + 2 * kSecond,
                                       m_first + 8 * kSecond);
    RunDamaged(damaged);
    EXPECT_TRUE(Has("   Cut detected! 6s")) << m_lines;
    EXPECT_NEAR(m_damagedOffset, m_cleanOffset, 0.030) << m_lines;
}

class FailureTest : public JobTest {
protected:
    void SetUp() override {
        JobTest::SetUp();
        RecordingOptions o;
        o.seconds = 2;
        MakeRecording(m_dir.File("rec.ts"), o);
        Open(m_dir.File("rec.ts"));
    }
    void ExpectFailedNotDone() {
        EXPECT_TRUE(Logged("Failed: ")) << Lines();
        EXPECT_FALSE(Logged("Done, ")) << Lines();
        EXPECT_TRUE(m_progress.finished);
    }
};

TEST_F(FailureTest, OutputThatCannotBeCreatedFailsTheJob) {
    platform::SetOpenHookForTesting([](const std::string& path, unsigned) {
        return path.size() > 4 && path.substr(path.size() - 4) == ".mp2" ? EACCES : 0;
    });
    const JobResult r = RunJob(OutputEs);
    platform::SetOpenHookForTesting(nullptr);
    EXPECT_EQ(r, JobResult::Failed);
    ExpectFailedNotDone();
}

TEST_F(FailureTest, FullDiskFailsTheJob) {
    // A file size limit makes writes past 64 KiB fail as on a full disk.
    struct rlimit old {};
    getrlimit(RLIMIT_FSIZE, &old);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = old;
    limit.rlim_cur = 64 * 1024;
    setrlimit(RLIMIT_FSIZE, &limit);
    const JobResult r = RunJob(OutputMpeg, 0x101);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(r, JobResult::Failed);
    ExpectFailedNotDone();
}

TEST_F(FailureTest, OverwriteQuestionYesNoRenameAndCancel) {
    ASSERT_EQ(RunJob(OutputEs), JobResult::Done) << Lines();
    // Cancel: nothing is done.
    m_prompts.answers = {PromptAnswer::Cancel};
    EXPECT_EQ(RunJob(OutputEs), JobResult::NotStarted);
    ASSERT_EQ(m_prompts.questions.size(), 1u);
    // One question names every file the job would replace.
    EXPECT_NE(m_prompts.questions[0].find("File [rec.m2v, rec.mp2, rec(2).mp2"), std::string::npos)
        << m_prompts.questions[0];
    EXPECT_FALSE(Logged("Done, "));
    // No: a new name; names that leave the folder are refused.
    m_prompts.answers = {PromptAnswer::No, PromptAnswer::No};
    m_prompts.names = {"../escape", "Other"};
    EXPECT_EQ(RunJob(OutputEs), JobResult::Done) << Lines();
    EXPECT_EQ(m_prompts.defaults.front(), "rec");
    EXPECT_TRUE(platform::FileExists(Output("Other.m2v")));
    EXPECT_TRUE(platform::FileExists(Output("Other(2).mp2")));
    EXPECT_FALSE(platform::FileExists(m_dir.File("work/escape.m2v")));
    // Yes: replaced.
    m_prompts.answers = {PromptAnswer::Yes};
    EXPECT_EQ(RunJob(OutputEs), JobResult::Done);
}

TEST_F(FailureTest, ThirdStreamOfOneExtensionGetsItsOwnFile) {
    RecordingOptions o;
    o.seconds = 1;
    o.mp2Tracks = 3;
    o.ac3 = false;
    MakeRecording(m_dir.File("three.ts"), o);
    m_model.CloseWithoutSaving();
    Open(m_dir.File("three.ts"));
    ASSERT_EQ(RunJob(OutputEs), JobResult::Done) << Lines();
    for (const char* name : {"three.mp2", "three(2).mp2", "three(3).mp2"}) {
        EXPECT_GT(std::filesystem::file_size(Output(name)), 10000u) << name;
        EXPECT_EQ(DecodeErrors(Output(name)), "") << name;
    }
}

TEST_F(FailureTest, UseSourceAsOutputPathWritesNextToTheRecording) {
    CPreferences::SetUseSourceAsOutputPath(true);
    EXPECT_EQ(RunJob(OutputMpeg, 0x101), JobResult::Done) << Lines();
    EXPECT_TRUE(platform::FileExists(m_dir.File("rec.mpg")));
    EXPECT_FALSE(platform::FileExists(Output("rec.mpg")));
}

TEST_F(FailureTest, CancelKeepsWhatWasWrittenAndSaysSo) {
    // The progress callback looks at Cancel at most twice a second: a clock
    // that runs a second per reading makes it look at the first call.
    std::uint64_t now = 0;
    platform::SetClockForTesting([&now] { return now += 1000; });
    m_progress.cancel = true;
    const JobResult r = RunJob(OutputEs);
    platform::SetClockForTesting(nullptr);
    EXPECT_EQ(r, JobResult::Cancelled);
    EXPECT_TRUE(Logged("Aborted by user")) << Lines();
    EXPECT_TRUE(Logged("Done, ")) << Lines();
    EXPECT_TRUE(platform::FileExists(Output("rec.m2v")));
}

// 32 MiB of zeros in the middle of a recording: while the sync is searched
// for over them the progress bar moves (several times, not only at the start)
// and Cancel ends the job there, before the pictures after them.
TEST_F(FailureTest, CancelIsSeenDuringALongSyncSearch) {
    auto bytes = ReadFileBytes(m_dir.File("rec.ts"));
    const std::size_t zerosAt = bytes.size() / 2 / 188 * 188, zeros = std::size_t{32} << 20;
    bytes.insert(bytes.begin() + static_cast<long>(zerosAt), zeros, 0);
    WriteFileBytes(m_dir.File("zeros.ts"), bytes);
    m_model.CloseWithoutSaving();
    Open(m_dir.File("zeros.ts"));
    // Cancel once the bar shows a position inside the zeros (per mille).
    struct CancelInZeros : RecordingProgress {
        int from = 0;
        std::vector<int> positions;
        int SetPos(int pos) override {
            positions.push_back(pos);
            return RecordingProgress::SetPos(pos);
        }
        bool IsCancelled() const override { return last > from + 100; }
    } progress;
    progress.from = static_cast<int>(1000.0 * static_cast<double>(zerosAt) / static_cast<double>(bytes.size()));
    SetProgress(&progress);
    std::uint64_t now = 0;
    platform::SetClockForTesting([&now] { return now += 1000; });
    const JobResult r = FunctionMng().FnCreateOutput(0, OutputEs);
    platform::SetClockForTesting(nullptr);
    SetProgress(&m_progress);
    EXPECT_EQ(r, JobResult::Cancelled);
    const int inside = static_cast<int>(std::count_if(
        progress.positions.begin(), progress.positions.end(), [&](int p) { return p > progress.from; }));
    EXPECT_GE(inside, 2);
    EXPECT_LT(progress.last, progress.from + 200);
    bool aborted = false;
    for (const std::string& l : progress.lines) aborted |= l == "Aborted by user";
    EXPECT_TRUE(aborted);
}

// Video whose PES never carry a sequence header (less than the 2 MB that
// count as scrambled): nothing can be written, and the job says so instead
// of "Done" alone; the command line ends with 1.
TEST_F(FailureTest, VideoThatNeverStartsEndsWithAWarning) {
    tsb::RecordingPlan plan;
    plan.gops = 1;
    plan.pictureBytes = 1000;
    tsb::TsBuilder b;
    b.Section(0, tsb::PatSection(1, {{1, plan.pmtPid}}));
    b.Section(plan.pmtPid, tsb::PmtSection(1, 0x100, {{2, 0x100, {}}, {3, 0x101, {}}}));
    for (int k = 0; k < 200; ++k) {
        b.Unit(0x100, tsb::PesPacket(0xE0, plan.firstPts + k * 3600, std::nullopt,
                                     tsb::Filler(3000), true));
        b.Unit(0x101, tsb::PesPacket(0xC0, plan.firstPts + k * 3600, std::nullopt,
                                     tsb::MpegAudioFrame()));
    }
    WriteFileBytes(m_dir.File("nopictures.ts"), b.Data());
    m_model.CloseWithoutSaving();
    Open(m_dir.File("nopictures.ts"));
    EXPECT_EQ(RunJob(OutputMpeg, 0x101), JobResult::DoneWithWarnings) << Lines();
    EXPECT_TRUE(Logged("No data for stream PID=0x0100")) << Lines();
    EXPECT_TRUE(Logged("No data for stream PID=0x0101")) << Lines();
    const std::string cli = std::string(RAVELO_BINARY_DIR) + "/cli/ravelo-cli";
    const std::string command = "RAVELO_SETTINGS=" + m_dir.File("cli.ini") + " " + cli + " demux " +
                                m_dir.File("nopictures.ts") + " -o " + m_dir.File("cli") +
                                " --quiet </dev/null >/dev/null 2>&1; echo $?";
    platform::MakeDirectory(m_dir.File("cli"));
    EXPECT_EQ(std::atoi(RunShell(command).c_str()), 1);
}

// Video without a sequence header for 2 MB (here one GOP of 8 s at 8 Mbit/s)
// counts as scrambled: the demultiplexing ends there, which the job reports
// as a data error rather than as a clean run.
TEST_F(FailureTest, ScrambledLookingVideoEndsTheJobWithAWarning) {
    m_model.CloseWithoutSaving();
    RecordingOptions o;
    o.seconds = 8;
    o.ac3 = false;
    o.mp2Tracks = 1;
    o.extra = "-g 1000 -b:v 8M -minrate 8M -maxrate 8M -bufsize 2M";
    MakeRecording(m_dir.File("big.ts"), o);
    Open(m_dir.File("big.ts"));
    EXPECT_EQ(RunJob(OutputMpeg, 0x101), JobResult::DoneWithWarnings) << Lines();
    EXPECT_TRUE(Logged("MPEG video stream seems to be (partly) scrambled!!! PID=0x0100")) << Lines();
}

// Six whole GOPs, then video that shows no sequence header for over 5 MB
// (more than four seconds of its stated rate): the demultiplexing stops
// there as for scrambled video, and everything before it is written, the
// last GOP and its sound included.
TEST_F(FailureTest, WhatCameBeforeScrambledVideoIsWritten) {
    tsb::RecordingPlan plan;
    plan.gops = 6;
    tsb::Bytes ts = tsb::BuildRecording(plan);
    tsb::RecordingPlan scrambled = plan;
    scrambled.firstPts += 6 * 12 * tsb::kPictureTicks;
    scrambled.gops = 1;
    scrambled.gopLength = 20;
    scrambled.pictureBytes = 250000;
    const tsb::Bytes rest = tsb::BuildRecording(scrambled);
    ts.insert(ts.end(), rest.begin(), rest.end());
    WriteFileBytes(m_dir.File("scrambled.ts"), ts);
    m_model.CloseWithoutSaving();
    Open(m_dir.File("scrambled.ts"));
    EXPECT_EQ(RunJob(OutputEs), JobResult::DoneWithWarnings) << Lines();
    EXPECT_TRUE(Logged("MPEG video stream seems to be (partly) scrambled!!! PID=0x0100")) << Lines();
    const std::string m2v = Output("scrambled.m2v"), mp2 = Output("scrambled.mp2");
    int pictures = 0;
    const auto bytes = ReadFileBytes(m2v);
    for (std::size_t i = 0; i + 3 < bytes.size(); ++i)
        pictures += bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1 && bytes[i + 3] == 0;
    // The counters start again where the second part begins: a sequence
    // error, after which the sixth GOP ends at its last whole I or P picture.
    EXPECT_EQ(pictures, 6 * 12 - 3);
    // The sound runs at least as long as the pictures (192 kbit/s frames of 576 bytes).
    EXPECT_GE(std::filesystem::file_size(mp2) / 576 * 24, static_cast<std::uintmax_t>(pictures * 40 - 24));
}

// The real captures: every job ends as the capture calls for, and writes
// every output that the capture's streams can fill.
struct CaptureExpectation {
    JobResult result;                // of each of the three jobs
    std::vector<std::string> filled;  // outputs that must not be empty
    std::optional<JobResult> esResult = std::nullopt;  // of "Demux to MPEG", where it differs
};

const std::map<std::string, CaptureExpectation>& Captures() {
    static const std::map<std::string, CaptureExpectation> captures = {
        {"abc_news_dvbt_au_mpeg2_mp2_latm_ttx", {JobResult::Done, {".m2v", ".mp2", ".mpg", ".vob"}}},
        {"atsc_ac3_audio_only_video_pid_declared", {JobResult::Done, {".ac3", ".mpg", ".vob"}}},
        {"bbc_news_dvbt_uk_mpeg2_704x576_dvbsub", {JobResult::Done, {".m2v", ".mp2", ".mpg", ".vob"}}},
        {"p1_mpeg2_720x576_mp2_separate_pcr_pid", {JobResult::Done, {".m2v", ".mp2", ".mpg", ".vob"}}},
        {"rai_mux_dvbt_it_mpeg2_mp2_ttx",
         {JobResult::Done, {".m2v", ".mp2", "(2).mp2", "(3).mp2", ".mpg", ".vob"}}},
        // Sequence errors, and MPEG audio without a PMT taken for video.
        {"radio_mux_sync_loss_cc_errors", {JobResult::DoneWithWarnings, {}}},
        // H.264 video: the program streams refuse it before anything is
        // written. Its one random-access point (an I picture) lost packets
        // and every picture after it refers to it: the elementary streams
        // get nothing, which the job says.
        {"sat_h264_damaged_partly_scrambled_bigpmt",
         {JobResult::Failed, {}, JobResult::DoneWithWarnings}},
        // Tables only: no stream to demultiplex.
        {"mediaset_psi_only_ca_descriptors", {JobResult::Failed, {}}},
    };
    return captures;
}

TEST_F(FailureTest, RealCapturesGiveTheirOutputs) {
    int seen = 0;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::string(RAVELO_REAL_CAPTURES))) {
        if (entry.path().extension() != ".ts") continue;
        const std::string name = entry.path().stem().string();
        SCOPED_TRACE(name);
        m_model.CloseWithoutSaving();
        std::string error;
        ASSERT_TRUE(m_model.Open(entry.path().string(), &error)) << error;
        SetActiveRecording(&m_model);
        auto expected = Captures().find(name);
        for (OutputKind kind : {OutputEs, OutputMpeg, OutputVob}) {
            m_prompts.answers = {PromptAnswer::Yes};
            const JobResult r = RunJob(kind, m_model.m_audioPid ? m_model.m_audioPid : m_model.m_ac3Pid);
            EXPECT_TRUE(Logged("Done, ") || Logged("Failed: ")) << Lines();
            if (expected != Captures().end()) {
                const CaptureExpectation& e = expected->second;
                EXPECT_EQ(r, kind == OutputEs && e.esResult ? *e.esResult : e.result) << kind << Lines();
            }
        }
        if (expected == Captures().end()) continue;
        ++seen;
        for (const std::string& suffix : expected->second.filled) {
            const std::string path = Output(name + suffix);
            EXPECT_TRUE(platform::FileExists(path) && std::filesystem::file_size(path) > 0) << path;
        }
        // The undamaged MPEG-2 captures give program streams that decode cleanly.
        if (name.find("mpeg2") != std::string::npos && name.find("damaged") == std::string::npos) {
            EXPECT_EQ(DecodeErrors(Output(name + ".mpg")), "");
        }
    }
    EXPECT_EQ(seen, static_cast<int>(Captures().size()));
}

// ravelo-cli: exit codes, and no hang on a question without a terminal.
TEST_F(FailureTest, CommandLineExitCodes) {
    const std::string cli = std::string(RAVELO_BINARY_DIR) + "/cli/ravelo-cli";
    const std::string env = "RAVELO_SETTINGS=" + m_dir.File("cli.ini") + " ";
    const std::string out = m_dir.File("cli");
    platform::MakeDirectory(out);
    auto run = [&](const std::string& args) {
        const std::string command = env + cli + " " + args + " </dev/null >/dev/null 2>&1; echo $?";
        return std::atoi(RunShell(command).c_str());
    };
    const std::string rec = m_dir.File("rec.ts");
    EXPECT_EQ(run("demux " + rec + " -o " + out + " --quiet"), 0);
    EXPECT_EQ(run("demux " + rec + " -o " + out + " --quiet"), 2);  // exists, nobody to ask
    EXPECT_EQ(run("demux " + rec + " -o " + out + " --no-overwrite"), 2);
    EXPECT_EQ(run("mpeg " + rec + " -o " + out + " --overwrite --audio 0x102"), 0);
    EXPECT_EQ(run("vob " + rec + " -o " + out + " --cut 0:00:00.5-0:00:01"), 0);
    EXPECT_EQ(run("mpeg " + rec + " -o " + out + " --audio nonsense"), 2);
    EXPECT_EQ(run("demux /no/such/file.ts -o " + out), 2);
    // Damage: finished, with data errors reported.
    auto bytes = ReadFileBytes(rec);
    const std::int64_t first = FirstPts(bytes, 0x100);
    WriteFileBytes(m_dir.File("bad.ts"), RemovePackets(bytes, {0x101}, first + 45000, first + 54000));
    EXPECT_EQ(run("demux " + m_dir.File("bad.ts") + " -o " + out + " --quiet"), 1);
}

}  // namespace
}  // namespace jobs
