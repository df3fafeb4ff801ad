#include <gtest/gtest.h>

#include <cerrno>

#include "app/cut_list.h"
#include "app/recording_model.h"
#include "app_test_util.h"
#include "support/temp_dir.h"
#include "support/ts_builder.h"

using tsb::Bytes;

namespace {

tsb::RecordingPlan twoTracks() {
    tsb::RecordingPlan plan;
    plan.audio = {{0x101, false, "deu", 0}, {0x50, false, "eng", 0}};
    return plan;
}

class RecordingModelTest : public AppTest {
  protected:
    std::string write(const std::string& name, const Bytes& data) {
        const std::string path = dir.File(name);
        WriteFileBytes(path, data);
        return path;
    }
    TempDir dir;
};

TEST_F(RecordingModelTest, OpensAndScansWithProgress) {
    CRecordingModel model;
    std::string error;
    ASSERT_TRUE(model.Open(write("Film.ts", tsb::BuildRecording(twoTracks())), &error)) << error;
    EXPECT_FALSE(model.IsReadOnly());
    EXPECT_FALSE(model.Recording().IsSwapped());
    EXPECT_EQ(model.m_pmtPid, 0x1000);
    EXPECT_EQ(model.m_videoPid, 0x100);
    EXPECT_EQ(model.m_audioPid, 0x101);
    EXPECT_EQ(model.m_streams.size(), 3u);
    EXPECT_EQ(model.Recording().GetPosition(), 0u);
    EXPECT_EQ(progress.positions, (std::vector<int>{15, 75, 95}));
    EXPECT_TRUE(progress.closed);
}

TEST_F(RecordingModelTest, FallsBackToReadOnlyAndFailsClearlyWhenThatFailsToo) {
    const std::string path = write("Film.ts", tsb::BuildRecording(twoTracks()));
    platform::SetOpenHookForTesting([](const std::string&, unsigned flags) {
        return (flags & (platform::modeReadWrite | platform::modeWrite)) ? EACCES : 0;
    });
    CRecordingModel model;
    std::string error;
    ASSERT_TRUE(model.Open(path, &error)) << error;
    EXPECT_TRUE(model.IsReadOnly());
    EXPECT_EQ(model.m_streams.size(), 3u);

    // The read-only retry is refused as well, but only after the first look.
    int opens = 0;
    platform::SetOpenHookForTesting(
        [&](const std::string&, unsigned) { return ++opens > 1 ? EACCES : 0; });
    CRecordingModel other;
    EXPECT_FALSE(other.Open(path, &error));
    EXPECT_FALSE(other.IsOpen());
    EXPECT_NE(error.find("Failed to open document."), std::string::npos) << error;
}

TEST_F(RecordingModelTest, MissingFilesAndFoldersAreRefused) {
    CRecordingModel model;
    std::string error;
    EXPECT_FALSE(model.Open(dir.File("none.ts"), &error));
    EXPECT_NE(error.find("Failed to open document."), std::string::npos);
    EXPECT_FALSE(model.Open(dir.Path().string(), &error));
    EXPECT_FALSE(model.IsOpen());
    // An empty file opens, with nothing in it.
    ASSERT_TRUE(model.Open(write("empty.ts", {}), &error));
    EXPECT_TRUE(model.m_streams.empty());
}

TEST_F(RecordingModelTest, DetectsSwappedBytesExceptForTopfieldFiles) {
    const Bytes swapped = tsb::ByteSwap(tsb::BuildRecording(twoTracks()));
    CRecordingModel model;
    ASSERT_TRUE(model.Open(write("Film.ts", swapped), nullptr));
    EXPECT_TRUE(model.Recording().IsSwapped());
    EXPECT_GT(model.ProbeCounts().swapped, model.ProbeCounts().plain);
    EXPECT_EQ(model.m_videoPid, 0x100);
    EXPECT_EQ(model.m_streams.size(), 3u);
    // .rec files are always read as stored.
    ASSERT_TRUE(model.Open(write("Film.rec", swapped), nullptr));
    EXPECT_FALSE(model.Recording().IsSwapped());
}

TEST_F(RecordingModelTest, TopfieldHeaderPidsSeedTheSecondScan) {
    Bytes data = tsb::TopfieldHeader(1692, 0x64, 0x100, 0x50);
    const Bytes ts = tsb::BuildRecording(twoTracks());
    data.insert(data.end(), ts.begin(), ts.end());
    CRecordingModel model;
    ASSERT_TRUE(model.Open(write("Film.ts", data), nullptr));
    EXPECT_EQ(model.m_audioPid, 0x101);  // the first MPEG audio of the PMT
    ASSERT_TRUE(model.Open(write("Film.rec", data), nullptr));
    EXPECT_EQ(model.m_audioPid, 0x50);  // the header's audio PID stays
    EXPECT_EQ(model.m_pmtPid, 0x1000);  // the PMT found overrides the header's
    EXPECT_EQ(model.m_streams.size(), 3u);
    // A header with PMT PID 0 is no header.
    Bytes plain = tsb::TopfieldHeader(564, 0, 0x100, 0x50);
    plain.insert(plain.end(), ts.begin(), ts.end());
    ASSERT_TRUE(model.Open(write("Film.tts", plain), nullptr));
    EXPECT_EQ(model.m_audioPid, 0x101);
}

TEST_F(RecordingModelTest, OpensSegmentChains) {
    const Bytes ts = tsb::BuildRecording(twoTracks());
    tsb::WriteSegments(dir.File("Chain.ts"), ts, {300000, 300000});
    CRecordingModel model;
    ASSERT_TRUE(model.Open(dir.File("Chain.ts"), nullptr));
    EXPECT_EQ(model.Recording().GetSegmentCount(), 3);
    EXPECT_EQ(model.Recording().GetLength(), ts.size());
    EXPECT_EQ(model.m_streams.size(), 3u);
}

TEST_F(RecordingModelTest, CutListIsStoredOnCloseAndWhenAnotherRecordingReplacesIt) {
    const Bytes ts = tsb::BuildRecording(twoTracks());
    const std::string first = write("First.ts", ts);
    const std::string second = write("Second.ts", ts);
    {
        CRecordingModel model;
        ASSERT_TRUE(model.Open(first, nullptr));
        cutlist::Append(model.m_cutList);
        cutlist::SetStartMark(model.m_cutList[0], 10, 1000);
        cutlist::SetEndMark(model.m_cutList[0], 20, 2000);
        ASSERT_TRUE(model.Open(second, nullptr));
        EXPECT_TRUE(model.m_cutList.empty());
        EXPECT_EQ(store.GetInt("CutList/First.ts/0", "SectorEnd"), 20u);

        cutlist::Append(model.m_cutList);
        cutlist::SetEndMark(model.m_cutList[0], 30, 3000);
    }  // closing stores
    EXPECT_EQ(store.GetInt("CutList/Second.ts/0", "SectorEnd"), 30u);

    CRecordingModel again;
    ASSERT_TRUE(again.Open(first, nullptr));
    ASSERT_EQ(again.m_cutList.size(), 1u);
    EXPECT_EQ(again.m_cutList[0].SectorStart, 10u);
    // A failed open keeps the recording that was open.
    EXPECT_FALSE(again.Open(dir.File("missing.ts"), nullptr));
    EXPECT_TRUE(again.IsOpen());
    EXPECT_EQ(again.m_cutList.size(), 1u);
}

TEST_F(RecordingModelTest, ActiveRecordingIsForgottenWithTheModel) {
    {
        CRecordingModel model;
        SetActiveRecording(&model);
        EXPECT_EQ(ActiveRecording(), &model);
    }
    EXPECT_EQ(ActiveRecording(), nullptr);
}

}  // namespace
