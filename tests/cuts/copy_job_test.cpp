// The copying job and the in-place job on ffmpeg-made recordings: what they
// keep, what they cut, and that every picture that remains is the source's.

#include <filesystem>

#include "cut_job_fixture.h"
#include "engine/function_mng.h"
#include "res/strings.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {
constexpr std::uint64_t kTsHeader = 188;
constexpr std::uint64_t kMiB = 1 << 20;

std::uint64_t sourceLength(const std::string& path) { return fs::file_size(path); }
}  // namespace

TEST_F(CutJobTest, TwoAreasCopiedAndInPlaceGiveTheSameCleanRecording) {
    const std::vector<TestArea> areas = {{1200000, 2500000}, {4100000, 4900000}};
    Open(SourceRecording(), areas);
    const std::string copy = CopyTo("copy.ts");
    EXPECT_EQ(m_prompts.proposedName, (fs::path(SourceRecording()).parent_path() / "source (copy).ts").string());
    EXPECT_EQ(m_prompts.proposedExtension, "ts");
    EXPECT_EQ(m_progress.titles.back(), LoadResString(ids::kCopyTitle));
    ExpectSoftCutOutput(copy, SourceRecording(), areas, kTsHeader);
    // The copy leaves the recording and its cut list as they were.
    EXPECT_EQ(m_model->m_cutList.size(), 2u);
    EXPECT_TRUE(m_model->m_cutList[0].IsEnabled);
    // Sound: at most one damaged frame per splice.
    std::string audio = DecodeErrors(copy, "a:0");
    EXPECT_LE(std::count(audio.begin(), audio.end(), '\n'), 2) << audio;

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
    // No GOP starts after the area: it is cut at the packet where it ends.
    const auto source = ReadFileBytes(SourceRecording());
    const auto output = ReadFileBytes(copy);
    const std::size_t tail = static_cast<std::size_t>(length - (length - 2048) / 188 * 188);
    ASSERT_GT(output.size(), tail);
    EXPECT_TRUE(std::equal(source.end() - static_cast<long>(tail), source.end(),
                           output.end() - static_cast<long>(tail)));
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
    const std::string mux = std::string(RAVELO_SHARED_TESTDATA) + "/real/rai_mux_dvbt_it_mpeg2_mp2_ttx.ts";
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
    file[20] = 0x10, file[21] = 0x00, file[24] = 0x01, file[25] = 0x00, file[26] = 0x01, file[27] = 0x01;
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
    EXPECT_NE(m_prompts.questions.back().find("cannot be written onto the recording"), std::string::npos);
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
