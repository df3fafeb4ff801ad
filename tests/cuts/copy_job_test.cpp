// The copying job and the in-place job on ffmpeg-made recordings: what they
// keep, what they cut, and that every picture that remains is the source's.

#include <cerrno>
#include <filesystem>

#include "cut_job_fixture.h"
#include "engine/function_mng.h"
#include "platform/file.h"
#include "res/strings.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {
constexpr std::uint64_t kTsHeader = 188;
constexpr std::uint64_t kMiB = 1 << 20;

std::uint64_t sourceLength(const std::string& path) {
    return fs::file_size(path);
}

bool carriesPcr(const unsigned char* packet) {
    return packet[0] == 0x47 && (packet[3] & 0x20) && packet[4] > 0 && (packet[5] & 0x10);
}

// Packets whose PCR starts a new time base (discontinuity indicator set).
int newTimeBases(const std::vector<unsigned char>& ts) {
    int count = 0;
    for (std::size_t at = 0; at + 188 <= ts.size(); at += 188)
        if (carriesPcr(&ts[at]) && (ts[at + 5] & 0x80)) ++count;
    return count;
}
}  // namespace

TEST_F(CutJobTest, TwoAreasCopiedAndInPlaceGiveTheSameCleanRecording) {
    const std::vector<TestArea> areas = {{1200000, 2500000}, {4100000, 4900000}};
    Open(SourceRecording(), areas);
    const std::string copy = CopyTo("copy.ts");
    EXPECT_EQ(m_prompts.proposedName,
              (fs::path(SourceRecording()).parent_path() / "cut_source (copy).ts").string());
    EXPECT_EQ(m_prompts.proposedExtension, "ts");
    EXPECT_EQ(m_progress.titles.back(), LoadResString(ids::kCopyTitle));
    ExpectSoftCutOutput(copy, SourceRecording(), areas, kTsHeader);
    const std::string log = LogText();
    EXPECT_NE(log.find("Skip to first cut"), std::string::npos);
    EXPECT_NE(log.find("Detected cut at "), std::string::npos);
    EXPECT_NE(log.find("Performing soft cut"), std::string::npos);
    // The clock jumps at each splice: the first PCR after it says so.
    EXPECT_EQ(newTimeBases(ReadFileBytes(SourceRecording())), 0);
    EXPECT_EQ(newTimeBases(ReadFileBytes(copy)), 2);
    // The copy leaves the recording and its cut list as they were.
    EXPECT_EQ(m_model->m_cutList.size(), 2u);
    EXPECT_TRUE(m_model->m_cutList[0].IsEnabled);
    // Sound PES packets are kept or dropped whole at each splice.
    EXPECT_EQ(DecodeErrors(copy, "a:0"), "");

    const std::string inPlace = m_dir.File("inplace.ts");
    fs::copy_file(SourceRecording(), inPlace);
    Open(inPlace, areas);
    EXPECT_EQ(FunctionMng().FnProcessSource(), JobResult::Done);
    EXPECT_EQ(m_prompts.questions.back(),
              LoadResString(ids::kAttention) + "|" + LoadResString(ids::kIrreversible));
    EXPECT_EQ(m_progress.titles.back(), LoadResString(ids::kRemoveTitle));
    EXPECT_TRUE(m_model->m_cutList.empty());
    m_model->Close();
    EXPECT_EQ(ReadFileBytes(inPlace), ReadFileBytes(copy));
}

TEST_F(CutJobTest, AreasOutOfOrderOverlappingAndInsideOneBlock) {
    // The second and third overlap; the first is well inside one block.
    const std::vector<TestArea> areas = {
        {5000000, 5600000}, {1300000, 1800000}, {5400000, 6000000}, {300000, 0}};
    Open(SourceRecording(), areas);
    ExpectSoftCutOutput(CopyTo("copy.ts"), SourceRecording(),
                        {{5000000, 5600000}, {1300000, 1800000}, {5400000, 6000000}}, kTsHeader);
}

TEST_F(CutJobTest, AreaAtTheStartResumesAtAGop) {
    const std::vector<TestArea> areas = {{0, 900000}};
    Open(SourceRecording(), areas);
    ExpectSoftCutOutput(CopyTo("copy.ts"), SourceRecording(), areas, kTsHeader);
    EXPECT_TRUE(m_model->m_cutList[0].IsEnabled) << "a leading area stays enabled after a copy";
}

TEST_F(CutJobTest, AreaReachingTheEndEndsTheOutput) {
    const std::uint64_t length = sourceLength(SourceRecording());
    const std::vector<TestArea> areas = {{length - 2 * kMiB, length + 4096}};
    Open(SourceRecording(), areas);
    ExpectSoftCutOutput(CopyTo("copy.ts"), SourceRecording(), areas, kTsHeader);
    EXPECT_NE(LogText().find("Cut stops at end of stream => exit"), std::string::npos);
}

TEST_F(CutJobTest, AreaEndingJustBeforeTheEndKeepsWhatFollowsIt) {
    const std::uint64_t length = sourceLength(SourceRecording());
    const std::vector<TestArea> areas = {{length - kMiB, length - 2048}};
    Open(SourceRecording(), areas);
    const std::string copy = CopyTo("copy.ts");
    EXPECT_EQ(fs::file_size(copy) % 188, 0u);
    // No GOP starts after the area: it is cut at the packet where it ends,
    // and the rest of a sound PES whose start was cut out goes too.
    const auto source = ReadFileBytes(SourceRecording());
    const auto output = ReadFileBytes(copy);
    std::vector<unsigned char> tail;
    bool soundStarted = false;
    for (std::size_t at = (length - 2048) / 188 * 188; at + 188 <= source.size(); at += 188) {
        const bool sound = ((source[at + 1] & 0x1F) << 8 | source[at + 2]) == 0x101;
        soundStarted = soundStarted || (sound && (source[at + 1] & 0x40));
        if (!sound || soundStarted)
            tail.insert(tail.end(), source.begin() + at, source.begin() + at + 188);
    }
    for (std::size_t at = 0; at + 188 <= tail.size(); at += 188) {
        if (!carriesPcr(&tail[at])) continue;
        tail[at + 5] |= 0x80;  // the first PCR after the splice
        break;
    }
    ASSERT_GT(output.size(), tail.size());
    EXPECT_TRUE(
        std::equal(tail.begin(), tail.end(), output.end() - static_cast<long>(tail.size())));
    EXPECT_LT(output.size(), source.size() - 500000);
}

TEST_F(CutJobTest, RecordingShorterThanOneMebibyte) {
    const std::string small = m_dir.File("small.ts");
    MakeTestRecording(small, 2, "352x288");
    ASSERT_LT(fs::file_size(small), kMiB);
    const std::vector<TestArea> areas = {{330000, 420000}};
    Open(small, areas);
    ExpectSoftCutOutput(CopyTo("copy.ts"), small, areas, kTsHeader);
    EXPECT_LT(fs::file_size(m_dir.File("copy.ts")), fs::file_size(small));
}

TEST_F(CutJobTest, MultiProgrammeRecordingKeepsOnlyItsOwnPictures) {
    const std::string mux =
        std::string(RAVELO_REAL_CAPTURES) + "/rai_mux_dvbt_it_mpeg2_mp2_ttx.ts";
    if (!fs::exists(mux)) GTEST_SKIP() << mux;
    const std::string local = m_dir.File("mux.ts");
    fs::copy_file(mux, local);
    CRecordingModel& model = Open(local, {{1200000, 2600000}});
    ASSERT_NE(model.m_videoPid, 0);
    char stream[32];
    std::snprintf(stream, sizeof stream, "i:0x%x", model.m_videoPid);
    const std::string copy = CopyTo("copy.ts");
    ExpectSoftCutOutput(copy, local, {{1200000, 2600000}}, kTsHeader, stream);
    EXPECT_LT(fs::file_size(copy), fs::file_size(local) - 1000000);
}

TEST_F(CutJobTest, BroadcastSoundIsSplicedByWholePesPackets) {
    // A broadcast interleaves the sound's PES packets with the video's, so a
    // cut at a GOP start falls inside one of them.
    const std::string capture =
        std::string(RAVELO_REAL_CAPTURES) + "/bbc_news_dvbt_uk_mpeg2_704x576_dvbsub.ts";
    if (!fs::exists(capture)) GTEST_SKIP() << capture;
    const std::string local = m_dir.File("bbc.ts");
    fs::copy_file(capture, local);
    ASSERT_EQ(DecodeErrors(local, "a"), "");
    Open(local, {{400000, 800000}, {1200000, 1600000}});
    const std::string copy = CopyTo("copy.ts");
    EXPECT_LT(fs::file_size(copy), fs::file_size(local) - 500000);
    EXPECT_EQ(DecodeErrors(copy, "a"), "");
}

TEST_F(CutJobTest, SegmentedRecordingKeepsItsLayout) {
    const auto bytes = ReadFileBytes(SourceRecording());
    const std::size_t first = 3000000, second = 2500000;
    const std::string base = m_dir.File("seg.ts");
    WriteFileBytes(base, {bytes.begin(), bytes.begin() + first});
    WriteFileBytes(base + ".001", {bytes.begin() + first, bytes.begin() + first + second});
    WriteFileBytes(base + ".002", {bytes.begin() + first + second, bytes.end()});
    const std::vector<TestArea> areas = {{1200000, 2500000}, {4100000, 4900000}};

    Open(SourceRecording(), areas);
    const auto whole = ReadFileBytes(CopyTo("whole.ts"));
    Open(base, areas);
    const std::string copy = CopyTo("out.ts");
    // The copy is shorter: it fills the first segments as the source did.
    EXPECT_EQ(fs::file_size(copy), first);
    EXPECT_EQ(fs::file_size(copy + ".001"), whole.size() - first);
    EXPECT_FALSE(fs::exists(copy + ".002"));
    auto joined = ReadFileBytes(copy);
    for (const char* suffix : {".001", ".002"}) {
        if (!fs::exists(copy + suffix)) continue;
        auto part = ReadFileBytes(copy + suffix);
        joined.insert(joined.end(), part.begin(), part.end());
    }
    EXPECT_EQ(joined, whole);
}

TEST_F(CutJobTest, SegmentThatCannotBeCreatedEndsTheCopy) {
    const auto bytes = ReadFileBytes(SourceRecording());
    const std::string base = m_dir.File("seg.ts");
    WriteFileBytes(base, {bytes.begin(), bytes.begin() + 3000000});
    WriteFileBytes(base + ".001", {bytes.begin() + 3000000, bytes.end()});
    Open(base, {{1200000, 2500000}});
    platform::SetOpenHookForTesting([](const std::string& path, unsigned flags) {
        return (flags & platform::modeCreate) && path.ends_with("out.ts.001") ? EACCES : 0;
    });
    m_prompts.saveAs = m_dir.File("out.ts");
    EXPECT_EQ(FunctionMng().FnProcessCopy(), JobResult::Failed);
    platform::SetOpenHookForTesting({});
    ASSERT_FALSE(m_prompts.questions.empty());
    EXPECT_NE(m_prompts.questions.back().find("out.ts.001"), std::string::npos);
}

TEST_F(CutJobTest, SwappedRecordingGivesASwappedCopy) {
    const std::vector<TestArea> areas = {{1200000, 2500000}};
    Open(SourceRecording(), areas);
    const auto plain = ReadFileBytes(CopyTo("plain.ts"));
    const std::string swapped = m_dir.File("swapped.ts");
    WriteFileBytes(swapped, SwapPairs(ReadFileBytes(SourceRecording())));
    CRecordingModel& model = Open(swapped, areas);
    ASSERT_TRUE(model.Recording().IsSwapped());
    EXPECT_EQ(SwapPairs(ReadFileBytes(CopyTo("out.ts"))), plain);
}

TEST_F(CutJobTest, TopfieldRecordingStartsWithItsHeaderAndAWholePacket) {
    // A 564-byte header carrying the PIDs, then 100 bytes before the first packet.
    std::vector<unsigned char> file(564, 0);
    file[20] = 0x10, file[21] = 0x00, file[24] = 0x01, file[25] = 0x00, file[26] = 0x01,
    file[27] = 0x01;
    file.insert(file.end(), 100, 0x5A);
    const auto ts = ReadFileBytes(SourceRecording());
    file.insert(file.end(), ts.begin(), ts.end());
    const std::string tts = m_dir.File("film.tts");
    WriteFileBytes(tts, file);
    const std::vector<TestArea> areas = {{1200664, 2500664}};
    Open(tts, areas);
    const auto output = ReadFileBytes(CopyTo("out.tts"));
    ASSERT_GT(output.size(), 564u + 376u);
    EXPECT_TRUE(std::equal(file.begin(), file.begin() + 564, output.begin()));
    EXPECT_EQ((output.size() - 564) % 188, 0u);
    // Without its header the copy is the plain recording cut the same way.
    const std::string body = m_dir.File("body.ts");
    WriteFileBytes(body, {output.begin() + 564, output.end()});
    ExpectSoftCutOutput(body, SourceRecording(), {{1200000, 2500000}}, 0);
    EXPECT_NE(LogText().find("TS-Stream is synced for TF-Get"), std::string::npos);
    // In place the data moves back onto the header's end the same way.
    const std::string inPlace = m_dir.File("inplace.tts");
    WriteFileBytes(inPlace, file);
    Open(inPlace, areas);
    EXPECT_EQ(FunctionMng().FnProcessSource(), JobResult::Done);
    m_model->Close();
    EXPECT_EQ(ReadFileBytes(inPlace), output);
}

TEST_F(CutJobTest, HumaxRecordingIsCutOnBlockBounds) {
    const std::string vid = m_dir.File("film.vid");
    fs::copy_file(SourceRecording(), vid);
    const std::uint64_t length = fs::file_size(vid);
    Open(vid, {{100000, 200000}, {2000000, 3000000}, {length - 700000, length + 512}});
    const auto source = ReadFileBytes(vid);
    const auto output = ReadFileBytes(CopyTo("out.vid"));
    std::vector<unsigned char> expected(source.begin() + 6 * 32768, source.begin() + 61 * 32768);
    expected.insert(expected.end(), source.begin() + 91 * 32768,
                    source.begin() + static_cast<long>((length - 700000) / 32768 * 32768));
    EXPECT_EQ(output, expected);
    EXPECT_NE(LogText().find("Performing hard cut"), std::string::npos);
}

TEST_F(CutJobTest, CancelledCopyIsTruncatedAndCancelledInPlaceRunHasNoEffect) {
    const std::vector<TestArea> areas = {{1200000, 2500000}};
    Open(SourceRecording(), areas);
    const auto full = ReadFileBytes(CopyTo("full.ts"));

    m_progress.pumps = 0;
    m_progress.cancelAfterPumps = 2;
    m_prompts.saveAs = m_dir.File("cancelled.ts");
    EXPECT_EQ(FunctionMng().FnProcessCopy(), JobResult::Cancelled);
    const auto cancelled = ReadFileBytes(*m_prompts.saveAs);
    EXPECT_LT(cancelled.size(), full.size());
    EXPECT_EQ(cancelled.size() % 188, 0u);
    EXPECT_TRUE(std::equal(cancelled.begin(), cancelled.end(), full.begin()));

    const std::string inPlace = m_dir.File("inplace.ts");
    fs::copy_file(SourceRecording(), inPlace);
    Open(inPlace, areas);
    m_progress.pumps = 0;
    EXPECT_EQ(FunctionMng().FnProcessSource(), JobResult::Done);
    m_model->Close();
    EXPECT_EQ(ReadFileBytes(inPlace), full);
}

TEST_F(CutJobTest, CopyOntoTheRecordingIsRefused) {
    const std::string local = m_dir.File("film.ts");
    fs::copy_file(SourceRecording(), local);
    const auto before = ReadFileBytes(local);
    Open(local, {{1200000, 2500000}});
    m_prompts.saveAs = local;
    EXPECT_EQ(FunctionMng().FnProcessCopy(), JobResult::Failed);
    // Another name for the same file is refused too.
    const std::string link = m_dir.File("link.ts");
    fs::create_hard_link(local, link);
    m_prompts.saveAs = link;
    EXPECT_EQ(FunctionMng().FnProcessCopy(), JobResult::Failed);
    m_model->Close();
    EXPECT_EQ(ReadFileBytes(local), before);
    ASSERT_FALSE(m_prompts.questions.empty());
    EXPECT_NE(m_prompts.questions.back().find("cannot be written onto the recording"),
              std::string::npos);
}

TEST_F(CutJobTest, FailedInPlaceRunSaysWhereItStoppedAndKeepsTheCutList) {
    const std::string local = m_dir.File("film.ts");
    fs::copy_file(SourceRecording(), local);
    Open(local, {{1200000, 2500000}});
    fs::resize_file(local, 4000000);  // the recording loses its end behind our back
    EXPECT_EQ(FunctionMng().FnProcessSource(), JobResult::Failed);
    ASSERT_FALSE(m_prompts.questions.empty());
    const std::string& message = m_prompts.questions.back();
    EXPECT_NE(message.find("Removing the cut areas stopped at byte "), std::string::npos)
        << message;
    EXPECT_NE(message.find("film.ts: Input/output error"), std::string::npos) << message;
    EXPECT_NE(message.find("again to complete it"), std::string::npos) << message;
    // The list describes the recording as it now is: the stretch moved
    // forward is one area, from where the moved data ends (at or after the
    // area's start, where the cut went) to the area's end.
    ASSERT_EQ(m_model->m_cutList.size(), 1u);
    EXPECT_GE(m_model->m_cutList[0].SectorStart, 1200000u / 512);
    EXPECT_GE(m_model->m_cutList[0].SectorEnd, 2500000u / 512);
    EXPECT_TRUE(m_model->m_cutList[0].IsEnabled);
    m_model->CloseWithoutSaving();
    EXPECT_EQ(fs::file_size(local), 4000000u) << "nothing is cut off after a failure";
}

TEST_F(CutJobTest, InPlaceRunAnsweredNoChangesNothing) {
    const std::string local = m_dir.File("film.ts");
    fs::copy_file(SourceRecording(), local);
    Open(local, {{1200000, 2500000}});
    m_prompts.answer = PromptAnswer::No;
    EXPECT_EQ(FunctionMng().FnProcessSource(), JobResult::NotStarted);
    EXPECT_EQ(m_model->m_cutList.size(), 1u);
    EXPECT_EQ(fs::file_size(local), fs::file_size(SourceRecording()));
    EXPECT_EQ(LogText().find("FnProcessSource"), std::string::npos);
}
