// Sync repair measured: recordings with noise audio are damaged packet by
// packet, demultiplexed into a program stream and elementary streams, and the
// sync meter matches every output picture and audio frame back to the
// undamaged source. The A/V error must stay within 30 ms at every point and
// only the pictures the damage destroyed may be missing.

#include <filesystem>

#include "demux/silent_ac3_frame.h"
#include "job_fixture.h"
#include "shell/text.h"
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
        o.mp2Tracks = 1;
        MakeRecording(m_dir.File("clean.ts"), o);
        m_clean = ReadFileBytes(m_dir.File("clean.ts"));
        m_first = FirstPts(m_clean, 0x100);
        m_hasAc3 = o.ac3;
    }
    // The source stamp so many seconds after the first picture (33 bits).
    std::int64_t At(double seconds) const {
        return (m_first + static_cast<std::int64_t>(seconds * kSecond)) & ((std::int64_t{1} << 33) - 1);
    }
    // Byte offset of the video PES that begins at that time.
    std::size_t OffsetAt(double seconds) const { return damage::OffsetOfPts(m_clean, 0x100, At(seconds)); }

    // Runs the program-stream job and the elementary-stream job on the
    // damaged recording and measures both against the clean one. audio
    // selects the track: 0 the first MP2 track, 1 the AC-3 track.
    void Run(const damage::Bytes& damaged, int audio = 0) {
        m_model.CloseWithoutSaving();
        std::filesystem::remove_all(m_dir.File("work/~demux"));
        WriteFileBytes(m_dir.File("rec.ts"), damaged);
        Open(m_dir.File("rec.ts"));
        const std::uint16_t pid = static_cast<std::uint16_t>(0x101 + audio);
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

// A second of sound missing: the GOPs shown wholly within it go (as the
// sound for them is missing), the rest of the gap is silence, and the sound
// and pictures after it keep in step.
TEST_F(SyncRepairTest, SoundMissingForASecondTakesTheGopsShownMeanwhile) {
    Make(7);
    Run(RemovePackets(m_clean, {0x101}, At(2), At(3)));
    EXPECT_NE(m_mpgLines.find("   Dropping corresponding GOP"), std::string::npos) << m_mpgLines;
    ExpectRepaired(2, 3, 25);
    EXPECT_GE(m_mpg.LostBetween(2, 3), 12);
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

// Zeros and noise over about half a second of the recording: the sync is
// found again behind them and the pictures and sound that are left keep in
// step.
TEST_F(SyncRepairTest, ZeroedAndNoisyStretchesCostOnlyTheirTime) {
    for (bool noise : {false, true}) {
        SCOPED_TRACE(noise ? "noise" : "zeros");
        Make(6);
        const std::size_t from = OffsetAt(2), to = OffsetAt(2.5);
        Run(damage::Overwrite(m_clean, from, to - from, noise));
        EXPECT_EQ(m_mpgResult, JobResult::DoneWithWarnings);
        ExpectRepaired(2 - 0.6, 2.5 + 0.6, 13 + kGop + 2);
    }
}

// The sound begins 2.5 s and 10 s after the pictures (its packets before
// are lost): it is kept, after silence, in step with the pictures. (A low
// video rate keeps the recording within the stream scan's sample, which
// drops a listed stream it has not seen.)
TEST_F(SyncRepairTest, SoundStartingLateIsPrecededBySilence) {
    for (double late : {2.5, 10.0}) {
        SCOPED_TRACE(late);
        RecordingOptions o;
        o.ac3 = false;
        o.extra = "-b:v 400k";
        Make(late + 3, o);
        Run(RemovePackets(m_clean, {0x101}, At(-1), At(late)));
        EXPECT_FALSE(m_mpgLines.find("scrambled") != std::string::npos) << m_mpgLines;
        ExpectRepaired();
        // The silence counts as output sound: the track is as long as the pictures.
        EXPECT_NEAR(m_mpg.outputAudio * 0.024, m_mpg.outputPictures * 0.04, 0.5);
    }
}

// The pictures are missing for 6 s while the sound goes on: the sound of
// those seconds has no pictures and goes with them.
TEST_F(SyncRepairTest, PicturesMissingForSecondsTakeTheirSoundAlong) {
    Make(10);
    Run(RemovePackets(m_clean, {0x100}, At(2), At(8)));
    EXPECT_EQ(m_mpgResult, JobResult::DoneWithWarnings);
    ExpectRepaired(2 - 0.6, 8 + 0.6, 6 * 25 + kGop + 2);
}

// Closed GOPs (I picture first, then P and its B pictures): after a dropout
// none of their B pictures goes, the time line does not step back, and the
// program stream's stamps keep rising.
TEST_F(SyncRepairTest, ClosedGopsAfterADropoutKeepAllTheirPictures) {
    RecordingOptions o;
    o.extra = "-flags +cgop -sc_threshold 1000000000";
    Make(6, o);
    Run(RemovePackets(m_clean, {0, 0x1000, 0x100, 0x101, 0x102}, At(2), At(3)));
    ExpectRepaired(2 - 0.6, 3 + 0.6, 25 + kGop + 2);
}

// Half a minute without sound: 30 s of silence, nothing else lost.
TEST_F(SyncRepairTest, ThirtySecondsWithoutSoundAreFilledWithSilence) {
    Make(34);
    Run(RemovePackets(m_clean, {0x101}, At(2), At(32)));
    ExpectRepaired();
}

// The 33-bit clock wraps 3 s into the recording, in the middle of a dropout
// of every stream.
TEST_F(SyncRepairTest, DropoutAcrossTheClockWrap) {
    RecordingOptions o;
    o.offset = 95443.7176889 - 4.4;  // 2^33 / 90 kHz, less 3 s and ffmpeg's 1.4 s mux delay
    Make(7, o);
    ASSERT_LT(At(4), At(2)) << "the clock wraps between 2 s and 4 s";
    Run(RemovePackets(m_clean, {0, 0x1000, 0x100, 0x101}, At(2.7), At(3.4)));
    ExpectRepaired(2.7 - 0.6, 3.4 + 0.6, 18 + kGop + 2);
}

// MPEG audio at 44.1 kHz, whose frames carry a padding byte now and then,
// at two of the rates that broke: one frame in each PES and several.
TEST_F(SyncRepairTest, Mp2At44kHzStaysInSync) {
    for (int kbits : {160, 224}) {
        for (int pesPayload : {0, 2930}) {
            SCOPED_TRACE(std::to_string(kbits) + "k, PES payload " + std::to_string(pesPayload));
            RecordingOptions o;
            o.sampleRate = 44100;
            o.mp2Kbits = kbits;
            o.ac3 = false;
            o.pesPayload = pesPayload;
            Make(8, o);
            Run(damage::RemovePesStarts(m_clean, 0x101, At(2), At(6), 10));
            EXPECT_EQ(m_esLines.find("invalid audio frame"), std::string::npos) << m_esLines;
            ExpectRepaired();
        }
    }
}

// An AC-3 track, stereo and 5.1: a lost PES start and a gap of half a
// second are filled with silence of the track's own layout.
TEST_F(SyncRepairTest, Ac3GapsAreFilledWithTheTracksOwnSilence) {
    for (int channels : {2, 6}) {
        SCOPED_TRACE(channels);
        RecordingOptions o;
        o.ac3 = true;
        o.ac3Channels = channels;
        o.ac3Kbits = channels == 2 ? 192 : 448;
        Make(6, o);
        Run(RemovePackets(damage::RemovePesStarts(m_clean, 0x102, At(1), At(1.5)), {0x102}, At(3),
                          At(3.5)),
            1);
        ExpectRepaired();
        const auto layouts = ProbeRows("-select_streams a:0 -show_entries frame=channel_layout " +
                                       Output("rec.ac3"));
        ASSERT_FALSE(layouts.empty());
        for (const std::string& layout : layouts) EXPECT_EQ(layout, layouts.front());
    }
}

// The silent AC-3 frames for every coding mode with and without LFE (48 kHz,
// 448 kbit/s), and at 44.1 and 32 kHz at the smallest frame sizes: ffmpeg
// decodes them with the CRC checked, as the channels the mode names, to
// silence.
TEST(SilentAc3Frame, DecodesToSilenceInTheTracksLayout) {
    TempDir dir;
    constexpr int kChannels[8] = {2, 1, 2, 3, 3, 4, 4, 5};
    struct Case {
        int fscod, code, acmod, lfe;
    };
    std::vector<Case> cases;
    for (int acmod = 0; acmod < 8; ++acmod)
        for (int lfe = 0; lfe < 2; ++lfe) cases.push_back({0, 30, acmod, lfe});
    for (int fscod = 1; fscod < 3; ++fscod)
        for (int code : {0, 1}) cases.push_back({fscod, code, 7 - code * 5, 1 - code});
    for (const Case& c : cases) {
        SCOPED_TRACE(FormatString("fscod %d code %d acmod %d lfe %d", c.fscod, c.code, c.acmod, c.lfe));
        const std::vector<std::uint8_t> frame = SilentAc3Frame(c.fscod, c.code, c.acmod, c.lfe);
        ASSERT_FALSE(frame.empty());
        std::vector<unsigned char> file;
        for (int i = 0; i < 10; ++i) file.insert(file.end(), frame.begin(), frame.end());
        const std::string path = dir.File("silent.ac3");
        WriteFileBytes(path, file);
        // Named as AC-3: a few small frames can look like packets to
        // ffmpeg's format probe. Any error (CRC included) ends the decoding.
        const std::string decode = RunShell("ffmpeg -hide_banner -nostats -err_detect crccheck+explode -f ac3 -i " +
                                            path + " -af volumedetect -f null - 2>&1");
        EXPECT_NE(decode.find("max_volume: -91.0 dB"), std::string::npos) << decode;
        EXPECT_EQ(ProbeRows("-f ac3 -show_entries stream=channels " + path),
                  std::vector<std::string>{std::to_string(kChannels[c.acmod] + c.lfe)});
    }
    EXPECT_TRUE(SilentAc3Frame(3, 0, 7, 1).empty());
    EXPECT_TRUE(SilentAc3Frame(0, 38, 7, 1).empty());
}

// A recording that begins in the middle of a GOP: the first picture shown
// and the first sound go together.
TEST_F(SyncRepairTest, RecordingStartingMidGopStartsInSync) {
    Make(5);
    const std::size_t from = (OffsetAt(0.5) + OffsetAt(0.8)) / 2 / 188 * 188;
    Run(damage::Bytes(m_clean.begin() + static_cast<long>(from), m_clean.end()));
    EXPECT_LE(std::abs(m_mpg.WorstError()), kMaxError) << m_mpg.Summary();
    EXPECT_LE(std::abs(m_es.WorstError()), kMaxError) << m_es.Summary();
    EXPECT_EQ(m_mpg.foreignPictures, 0);
    EXPECT_EQ(m_es.foreignPictures, 0);
    EXPECT_EQ(m_mpgErrors, "");
}

}  // namespace
}  // namespace jobs
