// A run in place that stops (a failing write, of the recording or of its
// journal) leaves a recording that the next run finishes exactly: for every
// write of a run, the run is made to fail there, and the retry must give the
// bytes of one clean run. Plain, segmented and byte-swapped recordings.

#include <cerrno>
#include <filesystem>

#include "app/recording_model.h"
#include "cut_job_fixture.h"
#include "engine/function_mng.h"
#include "hd_cut_media.h"
#include "platform/file.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<unsigned char>;


constexpr std::size_t kFirstSegment = 3000000;
constexpr std::size_t kSecondSegment = 2500000;

// Fails the nth write to a file (recording or journal), counting from 1; 0
// fails none and only counts.
class FailingWrites {
  public:
    explicit FailingWrites(int failAt) : m_failAt(failAt) {
        platform::SetWriteHookForTesting([this](const std::string&, std::uint64_t, std::size_t) {
            return ++m_seen == m_failAt ? EIO : 0;
        });
    }
    ~FailingWrites() { platform::SetWriteHookForTesting({}); }
    bool Failed() const { return m_failAt > 0 && m_seen >= m_failAt; }
    int Seen() const { return m_seen; }

  private:
    int m_failAt;
    int m_seen = 0;
};

}  // namespace

class InPlaceRecoveryTest : public CutJobTest, public ::testing::WithParamInterface<Layout> {
  protected:
    const std::vector<TestArea> m_areas = {{1200000, 2500000}, {4100000, 4900000}};

    std::string write(const Bytes& plain) {
        const std::string path = m_dir.File("film.ts");
        for (const std::string& old : {path, path + ".001", path + ".002", path + ".cutjournal"})
            fs::remove(old);
        switch (GetParam()) {
            case Layout::Plain: WriteFileBytes(path, plain); break;
            case Layout::Swapped: WriteFileBytes(path, SwapPairs(plain)); break;
            case Layout::Segmented:
                WriteFileBytes(path, {plain.begin(), plain.begin() + kFirstSegment});
                WriteFileBytes(path + ".001", {plain.begin() + kFirstSegment,
                                               plain.begin() + kFirstSegment + kSecondSegment});
                WriteFileBytes(path + ".002", {plain.begin() + kFirstSegment + kSecondSegment,
                                               plain.end()});
                break;
        }
        return path;
    }
    Bytes read(const std::string& path) {
        const Bytes bytes = JoinedSegments(path);
        return GetParam() == Layout::Swapped ? SwapPairs(bytes) : bytes;
    }
    // Opens the recording as the window does, with the stored cut list.
    void reopen(const std::string& path) {
        m_model = std::make_unique<CRecordingModel>();
        std::string error;
        ASSERT_TRUE(m_model->Open(path, &error)) << error;
        SetActiveRecording(m_model.get());
    }
};

TEST_P(InPlaceRecoveryTest, EveryFailingWriteLeavesARecordingTheRetryFinishesExactly) {
    Open(SourceRecording(), m_areas);
    const Bytes clean = ReadFileBytes(CopyTo("clean.ts"));
    const Bytes source = ReadFileBytes(SourceRecording());
    const std::string path = write(source);

    int writes = 0;
    {
        Open(path, m_areas);
        FailingWrites count(0);
        ASSERT_EQ(FunctionMng().FnProcessSource(), JobResult::Done);
        writes = count.Seen();
    }
    ASSERT_EQ(read(path), clean);
    ASSERT_GT(writes, 4);
    if (GetParam() == Layout::Segmented) {
        EXPECT_FALSE(fs::exists(path + ".002")) << "the trailing segment file goes";
        EXPECT_EQ(fs::file_size(path), kFirstSegment);
    }

    for (int failAt = 1; failAt <= writes; ++failAt) {
        SCOPED_TRACE("write " + std::to_string(failAt) + " of " + std::to_string(writes));
        write(source);
        Open(path, m_areas);
        {
            FailingWrites failing(failAt);
            EXPECT_EQ(FunctionMng().FnProcessSource(), JobResult::Failed);
            ASSERT_TRUE(failing.Failed());
        }
        const std::string message = m_prompts.questions.back();
        const bool journaled = fs::exists(path + ".cutjournal");
        if (journaled) {
            EXPECT_NE(message.find("again to complete it"), std::string::npos) << message;
        } else {
            // The journal itself could not be written: nothing has moved.
            EXPECT_NE(message.find("Nothing was changed"), std::string::npos) << message;
            EXPECT_EQ(read(path), source);
        }
        // Copies and conversions wait until the interrupted run is complete.
        if (journaled) {
            m_prompts.saveAs = m_dir.File("early.ts");
            EXPECT_EQ(FunctionMng().FnProcessCopy(), JobResult::Failed);
            EXPECT_FALSE(fs::exists(m_dir.File("early.ts")));
        }
        m_model->Close();  // stores the areas that describe the recording now
        reopen(path);
        EXPECT_EQ(FunctionMng().FnProcessSource(), JobResult::Done) << m_prompts.questions.back();
        EXPECT_TRUE(m_model->m_cutList.empty());
        m_model->Close();
        EXPECT_FALSE(fs::exists(path + ".cutjournal"));
        EXPECT_EQ(read(path), clean);
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, InPlaceRecoveryTest,
                         ::testing::Values(Layout::Plain, Layout::Segmented, Layout::Swapped),
                         [](const auto& info) { return LayoutName(info.param); });

// The same for H.264 and HEVC recordings: the journal holds the unit rules,
// the packets written anew and the renumbering under way.
class HdInPlaceRecoveryTest : public CutJobTest,
                              public ::testing::WithParamInterface<std::tuple<bool, Layout>> {
  protected:
    std::string write(const Bytes& plain) {
        const std::string path = m_dir.File("film.ts");
        for (const std::string& old : {path, path + ".001", path + ".002", path + ".cutjournal"})
            fs::remove(old);
        const Layout layout = std::get<1>(GetParam());
        if (layout == Layout::Segmented) {
            // Segments of two fifths of the recording each, and the rest.
            const auto segment = static_cast<long>(plain.size() * 2 / 5);
            WriteFileBytes(path, {plain.begin(), plain.begin() + segment});
            WriteFileBytes(path + ".001", {plain.begin() + segment, plain.begin() + 2 * segment});
            WriteFileBytes(path + ".002", {plain.begin() + 2 * segment, plain.end()});
        } else {
            WriteFileBytes(path, layout == Layout::Swapped ? SwapPairs(plain) : plain);
        }
        return path;
    }
    Bytes read(const std::string& path) {
        const Bytes bytes = JoinedSegments(path);
        return std::get<1>(GetParam()) == Layout::Swapped ? SwapPairs(bytes) : bytes;
    }
};

TEST_P(HdInPlaceRecoveryTest, EveryFailingWriteLeavesARecordingTheRetryFinishesExactly) {
    const std::string source = std::get<0>(GetParam()) ? hdcut::H264Recording() : hdcut::HevcRecording();
    const std::vector<TestArea> areas = hdcut::TwoAreas(VideoPackets(source, "v:0"));
    ASSERT_EQ(areas.size(), 2u);
    Open(source, areas);
    const Bytes clean = ReadFileBytes(CopyTo("clean.ts"));
    const Bytes bytes = ReadFileBytes(source);
    const std::string path = write(bytes);
    int writes = 0;
    {
        Open(path, areas);
        FailingWrites count(0);
        ASSERT_EQ(FunctionMng().FnProcessSource(), JobResult::Done);
        writes = count.Seen();
        m_model->Close();
    }
    ASSERT_EQ(read(path), clean);
    ASSERT_GT(writes, 4);
    for (int failAt = 1; failAt <= writes; ++failAt) {
        SCOPED_TRACE("write " + std::to_string(failAt) + " of " + std::to_string(writes));
        write(bytes);
        Open(path, areas);
        {
            FailingWrites failing(failAt);
            EXPECT_EQ(FunctionMng().FnProcessSource(), JobResult::Failed);
        }
        m_model->Close();
        m_model = std::make_unique<CRecordingModel>();
        std::string error;
        ASSERT_TRUE(m_model->Open(path, &error)) << error;
        SetActiveRecording(m_model.get());
        EXPECT_EQ(FunctionMng().FnProcessSource(), JobResult::Done) << m_prompts.questions.back();
        m_model->Close();
        EXPECT_FALSE(fs::exists(path + ".cutjournal"));
        EXPECT_TRUE(read(path) == clean) << "the retry differs from a clean run";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Codecs, HdInPlaceRecoveryTest,
    ::testing::Combine(::testing::Bool(),
                       ::testing::Values(Layout::Plain, Layout::Segmented, Layout::Swapped)),
    [](const auto& info) {
        return std::string(std::get<0>(info.param) ? "H264" : "Hevc") +
               LayoutName(std::get<1>(info.param));
    });

TEST_F(CutJobTest, AJournalThatIsDamagedOrNotOfThisRecordingIsNeverFollowed) {
    const std::vector<TestArea> areas = {{1200000, 2500000}};
    Open(SourceRecording(), areas);
    const Bytes clean = ReadFileBytes(CopyTo("clean.ts"));
    const Bytes source = ReadFileBytes(SourceRecording());
    const std::string path = m_dir.File("film.ts");

    // Bytes that are no journal: a run that never began; a new run goes ahead.
    WriteFileBytes(path, source);
    Bytes noise(9000);
    for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<unsigned char>(i * 131 + 7);
    WriteFileBytes(path + ".cutjournal", noise);
    Open(path, areas);
    EXPECT_EQ(FunctionMng().FnProcessSource(), JobResult::Done);
    m_model->Close();
    EXPECT_EQ(ReadFileBytes(path), clean);
    EXPECT_FALSE(fs::exists(path + ".cutjournal"));

    // The journal of an interrupted run, but the recording has changed since:
    // nothing is moved by it.
    WriteFileBytes(path, source);
    Open(path, areas);
    {
        FailingWrites failing(6);
        ASSERT_EQ(FunctionMng().FnProcessSource(), JobResult::Failed);
    }
    ASSERT_TRUE(fs::exists(path + ".cutjournal"));
    m_model->CloseWithoutSaving();
    Bytes changed = ReadFileBytes(path);
    changed.insert(changed.end(), 188, 0x47);
    WriteFileBytes(path, changed);
    Open(path, areas);
    EXPECT_EQ(FunctionMng().FnProcessSource(), JobResult::Failed);
    EXPECT_NE(m_prompts.questions.back().find("does not fit the recording"), std::string::npos)
        << m_prompts.questions.back();
    m_model->CloseWithoutSaving();
    EXPECT_EQ(ReadFileBytes(path), changed);
}
