// Sync repair measured: recordings with noise audio are damaged packet by
// packet, demultiplexed into a program stream and elementary streams, and the
// sync meter matches every output picture and audio frame back to the
// undamaged source. The A/V error must stay within 30 ms at every point and
// only the pictures the damage destroyed may be missing.

#include <filesystem>

#include "job_fixture.h"
#include "support/sync_meter.h"

namespace jobs {
namespace {

constexpr std::int64_t kSecond = 90000;
constexpr double kMaxError = 0.030;
constexpr int kGop = 12;  // pictures

class SyncRepairTest : public JobTest {
protected:
    // A recording with noise audio: no two audio frames alike.
    void Make(double seconds, RecordingOptions o = {}) {
        o.seconds = seconds;
        o.noise = true;
        if (o.mp2Tracks == 2) o.mp2Tracks = 1;
        MakeRecording(m_dir.File("clean.ts"), o);
        m_clean = ReadFileBytes(m_dir.File("clean.ts"));
        m_first = FirstPts(m_clean, 0x100);
        m_hasAc3 = o.ac3;
    }
    std::int64_t At(double seconds) const { return m_first + static_cast<std::int64_t>(seconds * kSecond); }

    // Runs the program-stream job and the elementary-stream job on the
    // damaged recording and measures both against the clean one. audio
    // selects the track: 0 the first MP2 track, 1 the AC-3 track.
    void Run(const damage::Bytes& damaged, int audio = 0) {
        m_model.CloseWithoutSaving();
        std::filesystem::remove_all(m_dir.File("work/~demux"));
        WriteFileBytes(m_dir.File("rec.ts"), damaged);
        Open(m_dir.File("rec.ts"));
        const std::uint16_t pid = audio == 0 ? 0x101 : 0x102;
        m_mpgResult = RunJob(OutputMpeg, pid);
        m_mpgLines = Lines();
        m_esResult = RunJob(OutputEs);
        m_esLines = Lines();
        const meter::Streams source = meter::ReadProgram(m_dir.File("clean.ts"), audio);
        const meter::Streams mpg = meter::ReadProgram(Output("rec.mpg"));
        m_mpg = meter::Measure(source, mpg);
        m_mpgErrors = mpg.errors;
        const meter::Streams es =
            meter::ReadElementary(Output("rec.m2v"), Output(audio == 0 ? "rec.mp2" : "rec.ac3"));
        m_es = meter::Measure(source, es);
        m_esErrors = es.errors;
    }

    // In sync at every point, decoded without a message, and every picture
    // there except those in [from, to) (source seconds from the first
    // picture), of which at most lost may be missing.
    void ExpectRepaired(double from = 0, double to = 0, int lost = 0) {
        for (const auto* r : {&m_mpg, &m_es}) {
            const bool isMpg = r == &m_mpg;
            SCOPED_TRACE(isMpg ? "program stream: " + r->Summary() + "\n" + m_mpgLines
                               : "elementary streams: " + r->Summary() + "\n" + m_esLines);
            EXPECT_EQ(isMpg ? m_mpgErrors : m_esErrors, "");
            EXPECT_LE(std::abs(r->WorstError()), kMaxError);
            EXPECT_EQ(r->foreignPictures, 0);
            EXPECT_TRUE(r->repeatedPictures.empty());
            EXPECT_GT(r->matchedAudio, 0);
            // The data can end inside the last picture of a recording: it is
            // left out, and with it the I or P picture before it, whose B
            // pictures are shown before it.
            const int outside = static_cast<int>(r->lostPictures.size()) - r->LostBetween(from, to);
            EXPECT_LE(outside, 3);
            EXPECT_LE(r->LostBetween(from, to), lost);
        }
    }

    damage::Bytes m_clean;
    std::int64_t m_first = 0;
    bool m_hasAc3 = false;
    JobResult m_mpgResult = JobResult::Failed;
    JobResult m_esResult = JobResult::Failed;
    std::string m_mpgLines, m_esLines, m_mpgErrors, m_esErrors;
    meter::SyncReport m_mpg, m_es;
};

TEST_F(SyncRepairTest, CleanRecordingStaysInSync) {
    Make(6);
    Run(m_clean);
    EXPECT_EQ(m_mpgResult, JobResult::Done);
    EXPECT_EQ(m_esResult, JobResult::Done);
    ExpectRepaired();
}

// One lost audio frame (24 ms) must be made good with one silent frame;
// ten of them must not add up.
TEST_F(SyncRepairTest, LostPesStartOfAnAudioFrameIsPaddedEveryTime) {
    Make(10);
    Run(damage::RemovePesStarts(m_clean, 0x101, At(1), At(9), 35));
    EXPECT_EQ(m_mpgResult, JobResult::DoneWithWarnings);
    ExpectRepaired();
}

TEST_F(SyncRepairTest, DropoutOfEveryStreamCostsItsOwnLengthAndOneGop) {
    for (double length : {0.3, 1.0, 3.0}) {
        SCOPED_TRACE(length);
        Make(8);
        Run(RemovePackets(m_clean, {0, 0x1000, 0x100, 0x101}, At(2), At(2 + length)));
        EXPECT_EQ(m_mpgResult, JobResult::DoneWithWarnings);
        ExpectRepaired(2 - 0.5, 2 + length + 0.5, static_cast<int>(length * 25) + kGop + 2);
    }
}

TEST_F(SyncRepairTest, AudioMissingForSecondsIsFilledWithSilence) {
    for (double length : {6.0, 10.0}) {
        SCOPED_TRACE(length);
        Make(length + 4);
        Run(RemovePackets(m_clean, {0x101}, At(2), At(2 + length)));
        ExpectRepaired();
    }
}

TEST_F(SyncRepairTest, OneLostVideoPacketCostsThePicturesUpToTheNextGop) {
    Make(6);
    Run(damage::RemovePacketInPes(m_clean, 0x100, At(2.2), 3));
    ExpectRepaired(2.2 - 0.2, 2.2 + 0.5, kGop);
}

}  // namespace
}  // namespace jobs
