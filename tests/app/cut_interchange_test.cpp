// Cut lists brought into and out of an opened recording: imported times land
// on the pictures a --cut mark at that time would, and export then import
// gives back the same areas.

#include <gtest/gtest.h>

#include <algorithm>

#include "app/cut_interchange.h"
#include "app/cut_list.h"
#include "app/mark_placement.h"
#include "app/recording_model.h"
#include "app_test_util.h"
#include "support/temp_dir.h"
#include "support/ts_builder.h"

namespace {

// Position just behind the packet of the n-th sequence header.
std::uint64_t gopSector(const tsb::Bytes& data, int n) {
    const tsb::Bytes code = {0x00, 0x00, 0x01, 0xB3};
    for (std::size_t at = 0; at + 188 <= data.size(); at += 188) {
        const auto begin = data.begin() + static_cast<std::ptrdiff_t>(at);
        if (std::search(begin, begin + 188, code.begin(), code.end()) != begin + 188 && n-- == 0)
            return (at + 188) / 512 - 1;
    }
    return 0;
}

class CutInterchange : public AppTest {
  protected:
    void open(int frameRateCode, int videoPid = 0x100) {
        tsb::RecordingPlan plan;
        plan.gops = 30;  // GOP 20 and before stay clear of the last 256 KiB
        plan.frameRateCode = frameRateCode;
        plan.videoPid = videoPid;
        data = tsb::BuildRecording(plan);
        WriteFileBytes(dir.File("Film.ts"), data);
        ASSERT_TRUE(model.Open(dir.File("Film.ts"), nullptr));
    }
    void TearDown() override {
        model.CloseWithoutSaving();
        AppTest::TearDown();
    }
    // An area with marks set where the window would set them.
    CCutArea area(std::uint64_t fromSector, std::uint64_t toSector) {
        const PlacedMark from = PlaceMarkAtSector(model, fromSector);
        const PlacedMark to = PlaceMarkAtSector(model, toSector);
        CCutArea a;
        cutlist::SetStartMark(a, from.sector, from.stamp);
        cutlist::SetEndMark(a, to.sector, to.stamp);
        return a;
    }
    std::uint64_t gop(int n) const { return gopSector(data, n); }
    std::uint64_t endSector() const { return data.size() / 512; }
    std::int64_t gopStamp(int n, int frameRateCode) const {
        return 900000 + tsb::PictureStamp(frameRateCode, 12 * n);
    }

    TempDir dir;
    tsb::Bytes data;
    CRecordingModel model;
};

void expectSameAreas(const CCutList& got, const CCutList& want) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(got[i].SectorStart, want[i].SectorStart) << "area " << i;
        EXPECT_EQ(got[i].SectorEnd, want[i].SectorEnd) << "area " << i;
        EXPECT_EQ(got[i].PTSStart, want[i].PTSStart) << "area " << i;
        EXPECT_EQ(got[i].PTSEnd, want[i].PTSEnd) << "area " << i;
        EXPECT_TRUE(got[i].IsEnabled) << "area " << i;
    }
}

TEST_F(CutInterchange, ExportThenImportGivesTheSameAreasInEveryFormat) {
    for (int code : {3, 4}) {  // 25 and 29.97 pictures per second
        SCOPED_TRACE(code);
        open(code);
        // From the first picture, in the middle, and to the end.
        const CCutList areas = {area(0, gop(3)), area(gop(8), gop(12)), area(gop(20), endSector())};
        EXPECT_EQ(areas[2].SectorEnd, endSector());
        for (CutFileFormat format :
             {CutFileFormat::Edl, CutFileFormat::VdrMarks, CutFileFormat::Comskip}) {
            SCOPED_TRACE(CutFileFormatName(format));
            model.m_cutList = areas;
            std::string text, error;
            ASSERT_TRUE(ExportCutList(model, format, text, &error)) << error;
            model.m_cutList.clear();
            const CutImport imported = ImportCutList(model, text, format);
            ASSERT_FALSE(imported.Failed()) << imported.error << "\n" << text;
            EXPECT_TRUE(imported.notes.empty()) << imported.notes.front();
            expectSameAreas(imported.areas, areas);
        }
        model.CloseWithoutSaving();
    }
}

TEST_F(CutInterchange, HandWrittenListsLandOnTheFirstPictureAtOrAfterTheirTimes) {
    open(3);  // a sequence header every 0.48 s
    CutImport imported = ImportCutList(model, "1.0 2.0 0\n", CutFileFormat::Edl);
    ASSERT_EQ(imported.areas.size(), 1u) << imported.error;
    EXPECT_EQ(imported.areas[0].SectorStart, gop(3));  // 1.44 s
    EXPECT_EQ(imported.areas[0].SectorEnd, gop(5));    // 2.40 s
    EXPECT_EQ(imported.areas[0].PTSStart, gopStamp(3, 3));
    EXPECT_EQ(imported.areas[0].PTSEnd, gopStamp(5, 3));

    // VDR keeps 0.96-2.40 s: the cut areas are before and after it.
    imported = ImportCutList(model, "0:00:00.24 start\n0:00:02.10\n", CutFileFormat::VdrMarks);
    ASSERT_EQ(imported.areas.size(), 2u) << imported.error;
    EXPECT_EQ(imported.areas[0].SectorStart, gop(0));
    EXPECT_EQ(imported.areas[0].SectorEnd, gop(2));
    EXPECT_EQ(imported.areas[1].SectorStart, gop(5));
    EXPECT_EQ(imported.areas[1].SectorEnd, endSector());

    // comskip frame 25 is shown at 0.96 s, exactly a sequence header.
    imported = ImportCutList(model, "FILE PROCESSING COMPLETE 360 FRAMES AT 2500\n---\n25\t50\n",
                             CutFileFormat::Comskip);
    ASSERT_EQ(imported.areas.size(), 1u) << imported.error;
    EXPECT_EQ(imported.areas[0].SectorStart, gop(2));
    EXPECT_EQ(imported.areas[0].SectorEnd, gop(5));

    // Within one group of pictures: both marks land on the same picture.
    imported = ImportCutList(model, "1.0 1.2 0\n3 4 0\n", CutFileFormat::Edl);
    ASSERT_EQ(imported.areas.size(), 1u);
    ASSERT_EQ(imported.notes.size(), 1u);
    EXPECT_EQ(imported.notes[0], "line 1: start and end land on the same picture; left out");
}

TEST_F(CutInterchange, FramesAt2997LandOnTheirOwnPictureNotTheNext) {
    open(4);
    // Pictures 36 and 60 start groups; frame numbers from comskip count from 1.
    CutImport imported = ImportCutList(
        model, "FILE PROCESSING COMPLETE 360 FRAMES AT 2997\n---\n37 61\n", CutFileFormat::Comskip);
    ASSERT_EQ(imported.areas.size(), 1u) << imported.error;
    EXPECT_EQ(imported.areas[0].PTSStart, gopStamp(3, 4));
    EXPECT_EQ(imported.areas[0].PTSEnd, gopStamp(5, 4));
    imported = ImportCutList(model, "0:00:01.06\n0:00:02.00\n", CutFileFormat::VdrMarks);
    ASSERT_EQ(imported.areas.size(), 2u) << imported.error;
    EXPECT_EQ(imported.areas[0].PTSEnd, gopStamp(3, 4));    // frame 36
    EXPECT_EQ(imported.areas[1].PTSStart, gopStamp(5, 4));  // frame 60
}

TEST_F(CutInterchange, ExportJoinsOverlappingAreasAndLeavesDisabledOnesOut) {
    open(3);
    CCutArea disabled = area(gop(14), gop(14));
    ASSERT_FALSE(disabled.IsEnabled);
    model.m_cutList = {area(gop(4), gop(9)), disabled, area(gop(2), gop(6)), area(gop(9), gop(10))};
    std::string text, error;
    ASSERT_TRUE(ExportCutList(model, CutFileFormat::Edl, text, &error)) << error;
    EXPECT_EQ(text, "0.960\t4.800\t0\n");
}

TEST_F(CutInterchange, ExportUsesTheRecordingsOwnFirstPicture) {
    open(3);
    model.m_cutList = {area(gop(2), gop(4))};
    model.m_firstPTS = 12345;  // a stored value that is not this recording's
    std::string text, error;
    ASSERT_TRUE(ExportCutList(model, CutFileFormat::Edl, text, &error)) << error;
    EXPECT_EQ(text, "0.960\t1.920\t0\n");
    EXPECT_EQ(model.m_firstPTS, 900000);
}

TEST_F(CutInterchange, FrameListsNeedAFrameRate) {
    open(3, 0);  // a radio recording: no pictures, no frame rate
    std::string text, error;
    EXPECT_FALSE(ExportCutList(model, CutFileFormat::Comskip, text, &error));
    EXPECT_NE(error.find("frame rate is unknown"), std::string::npos) << error;
    EXPECT_FALSE(ExportCutList(model, CutFileFormat::VdrMarks, text, &error));
    const CutImport imported =
        ImportCutList(model, "FILE PROCESSING COMPLETE\n1 2\n", CutFileFormat::Comskip);
    EXPECT_EQ(imported.error, "line 1: no usable frame rate in the header or the recording");
}

TEST(CutFileFormats, ToldByNameOrByTheFilesName) {
    EXPECT_EQ(CutFileFormatFromName("vdr"), CutFileFormat::VdrMarks);
    EXPECT_FALSE(CutFileFormatFromName("VDR").has_value());
    EXPECT_EQ(CutFileFormatFromPath("/rec/Film.EDL"), CutFileFormat::Edl);
    EXPECT_EQ(CutFileFormatFromPath("/video/Film/2024-01-01.20.15.1-0.rec/marks"),
              CutFileFormat::VdrMarks);
    EXPECT_EQ(CutFileFormatFromPath("marks.vdr"), CutFileFormat::VdrMarks);
    EXPECT_EQ(CutFileFormatFromPath("Film.txt"), CutFileFormat::Comskip);
    EXPECT_FALSE(CutFileFormatFromPath("/tmp/edl/cuts").has_value());
    EXPECT_FALSE(CutFileFormatFromPath("Film.ts").has_value());
}

TEST(CutFiles, WritesWholeFilesOrNothingAndReadsOnlySmallFiles) {
    TempDir dir;
    std::string error, text;
    const std::string path = dir.File("Film.edl");
    WriteFileBytes(path, {'o', 'l', 'd'});
    ASSERT_TRUE(WriteCutFile(path, "1.000\t2.000\t0\n", &error)) << error;
    ASSERT_TRUE(ReadCutFile(path, text, &error)) << error;
    EXPECT_EQ(text, "1.000\t2.000\t0\n");
    EXPECT_FALSE(platform::FileExists(path + ".part"));

    EXPECT_FALSE(WriteCutFile(dir.File("missing/Film.edl"), "x", &error));
    EXPECT_NE(error.find("cannot write"), std::string::npos) << error;
    EXPECT_FALSE(ReadCutFile(dir.File("none.edl"), text, &error));
    EXPECT_NE(error.find("cannot read"), std::string::npos) << error;
    EXPECT_FALSE(ReadCutFile(dir.Path().string(), text, &error));
    WriteFileBytes(dir.File("big.edl"), std::vector<unsigned char>((1 << 20) + 1, '1'));
    EXPECT_FALSE(ReadCutFile(dir.File("big.edl"), text, &error));
    EXPECT_NE(error.find("larger than 1 MiB"), std::string::npos) << error;
}

}  // namespace
