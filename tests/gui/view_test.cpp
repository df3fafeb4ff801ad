// The cut editor on the sample recording: opening, stepping by buttons, keys
// and wheel, marking cut areas, the stored cut list, jobs, cancel, read-only.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>

#include "app/qt/engine_snapshot_source.h"
#include "app/qt/ravelo_doc.h"
#include "app/qt/ravelo_view.h"
#include "app/qt/seek_button.h"
#include "controls/picture_view.h"
#include "controls/xinfo_tip.h"
#include "platform/clock.h"
#include "platform/key_state.h"
#include "shell/preferences.h"
#include "view_fixture.h"

namespace {
class CtrlDown : public platform::IKeyState {
  public:
    bool IsCtrlDown() const override { return true; }
    bool IsShiftDown() const override { return false; }
};
}  // namespace

TEST_F(ViewTest, WithoutARecordingEveryRecordingControlIsDisabled) {
    m_doc->OnNewDocument();
    for (int id : {CRaveloView::kSlider, CRaveloView::kSavePicture, CRaveloView::kCreateMpeg,
                   CRaveloView::kCopy, CRaveloView::kDemux, CRaveloView::kSmallBack,
                   CRaveloView::kSmallForward, CRaveloView::kLargeBack, CRaveloView::kLargeForward,
                   CRaveloView::kDeleteArea, CRaveloView::kEndCut, CRaveloView::kNewArea,
                   CRaveloView::kStartCut, CRaveloView::kAudioCombo, CRaveloView::kRemoveCuts,
                   CRaveloView::kSplit, CRaveloView::kCreateVob})
        EXPECT_FALSE(Ctl<QWidget>(m_view.get(), id)->isEnabled()) << id;
    EXPECT_TRUE(Ctl<QPlainTextEdit>(m_view.get(), CRaveloView::kInfoBox)->toPlainText().isEmpty());
    EXPECT_FALSE(m_view->ShowSnapshot(false));
    EXPECT_EQ(m_doc->Title(), QStringLiteral("Untitled"));
}

TEST_F(ViewTest, OpeningTheSampleShowsItsPictureStreamsAndLength) {
    Open(m_sample);
    EXPECT_EQ(m_doc->Title(), QStringLiteral("sample.ts"));
    const QString info = Ctl<QPlainTextEdit>(m_view.get(), CRaveloView::kInfoBox)->toPlainText();
    EXPECT_TRUE(info.contains("Resolution:\t720x576\n")) << info.toStdString();
    EXPECT_TRUE(info.contains("Aspect Ratio:\t16:9\n")) << info.toStdString();
    EXPECT_TRUE(info.contains("(deu, 192kBit/s)")) << info.toStdString();
    EXPECT_TRUE(info.contains("  AC3 5.1\t(deu, 448kBit/s)")) << info.toStdString();
    auto* combo = Ctl<QComboBox>(m_view.get(), CRaveloView::kAudioCombo);
    ASSERT_EQ(combo->count(), 2);  // the two MPEG audio tracks; AC-3 is not offered
    EXPECT_EQ(combo->currentIndex(), 0);
    EXPECT_NE(combo->itemData(0).toInt(), combo->itemData(1).toInt());
    EXPECT_TRUE(combo->itemText(1).contains("eng"));
    auto* slider = Ctl<QSlider>(m_view.get(), CRaveloView::kSlider);
    EXPECT_EQ(static_cast<std::uint64_t>(slider->maximum()),
              m_doc->Model().Recording().GetLength() >> 9);
    EXPECT_EQ(Position(), QStringLiteral("0:00:00.000"));
    EXPECT_EQ(m_doc->Model().m_firstPTS, m_view->CurrentStamp());
    // A decoded picture at its coded size, shown 16:9; not a placeholder:
    // the sample's colour bars.
    ASSERT_TRUE(ShowsPicture());
    const QImage image = Picture()->Picture();
    EXPECT_EQ(image.size(), QSize(720, 576));
    EXPECT_DOUBLE_EQ(Picture()->DisplayAspect(), 16.0 / 9.0);
    EXPECT_GT(qRed(image.pixel(56, 400)), 150);
    EXPECT_LT(qGreen(image.pixel(56, 400)), 100);
    EXPECT_TRUE(Ctl(m_view.get(), CRaveloView::kRemoveCuts)->isEnabled());
    EXPECT_TRUE(Ctl(m_view.get(), CRaveloView::kCreateVob)->isEnabled());
    EXPECT_FALSE(Ctl(m_view.get(), CRaveloView::kCreateVob)->isHidden());
    EXPECT_TRUE(m_prompts.asked.empty());
}

TEST_F(ViewTest, SeekButtonsKeysAndWheelFollowTheStepRules) {
    Open(m_sample);
    const std::uint64_t total = m_view->TotalSectors();
    const std::int32_t rate = m_doc->Model().m_bitRate;
    ASSERT_GT(total, 1000u);
    ASSERT_LT(total, 30192u);  // the sample is shorter than one large step

    Seek(CRaveloView::kSmallForward);
    const std::uint64_t forward = m_view->CurrentPosition();
    const std::int64_t forwardStamp = m_view->CurrentStamp();
    EXPECT_EQ(CRaveloView::LastSmallStep(), static_cast<std::uint32_t>((rate / 8) * 0.2));
    EXPECT_GE(forward + 1, CRaveloView::LastSmallStep());  // the next picture after the step
    EXPECT_GT(forwardStamp, m_doc->Model().m_firstPTS);
    EXPECT_EQ(static_cast<std::uint64_t>(Ctl<QSlider>(m_view.get(), CRaveloView::kSlider)->value()),
              forward);

    // Right arrow, forward key and wheel towards the user do the same step.
    QTest::keyClick(m_view.get(), Qt::Key_Home);
    EXPECT_EQ(m_view->CurrentPosition(), 0u);
    QTest::keyClick(m_view.get(), Qt::Key_Right);
    EXPECT_EQ(m_view->CurrentPosition(), forward);
    QTest::keyClick(m_view.get(), Qt::Key_Home);
    QTest::keyClick(m_view.get(), Qt::Key_Forward);
    EXPECT_EQ(m_view->CurrentPosition(), forward);
    QTest::keyClick(m_view.get(), Qt::Key_Home);
    QWheelEvent wheel(QPointF(10, 10), m_view->mapToGlobal(QPointF(10, 10)), QPoint(),
                      QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(Ctl<QWidget>(m_view.get(), CRaveloView::kInfoBox), &wheel);
    EXPECT_EQ(m_view->CurrentPosition(), forward);
    EXPECT_TRUE(Position().startsWith("0:00:00."))
        << Time().toStdString();  // a fraction of a second

    // A step back returns to an earlier picture, never below the start.
    Seek(CRaveloView::kSmallForward);
    Seek(CRaveloView::kSmallForward);
    const std::int64_t later = m_view->CurrentStamp();
    Seek(CRaveloView::kSmallBack);
    EXPECT_LT(m_view->CurrentStamp(), later);
    EXPECT_EQ(CRaveloView::LastSmallStep(), static_cast<std::uint32_t>((rate / 8) * 1.1));
    for (int i = 0; i < 5; ++i)
        QTest::keyClick(m_view.get(), Qt::Key_Left);
    EXPECT_EQ(m_view->CurrentPosition(), 0u);

    // ">>" and Page Down run into the end: the last sector, searched from
    // 256 KiB before the end, the position left where it is. The sample's
    // last group of pictures starts before that stretch: no picture there.
    Seek(CRaveloView::kLargeForward);
    EXPECT_EQ(m_view->CurrentPosition(), total - 1);
    EXPECT_EQ(Picture()->PlaceholderId(), 156);  // "No picture found"
    // Back at the start the first picture is shown again, although its stamp
    // is still the current one.
    Seek(CRaveloView::kLargeBack);  // not above 30,192: back to 0
    EXPECT_EQ(m_view->CurrentPosition(), 0u);
    EXPECT_EQ(m_view->CurrentStamp(), m_doc->Model().m_firstPTS);
    EXPECT_TRUE(ShowsPicture());
    QTest::keyClick(m_view.get(), Qt::Key_PageDown);
    EXPECT_EQ(m_view->CurrentPosition(), total - 1);
    EXPECT_FALSE(ShowsPicture());
    QTest::keyClick(m_view.get(), Qt::Key_PageUp);
    EXPECT_EQ(m_view->CurrentPosition(), 0u);
    EXPECT_TRUE(ShowsPicture());
    QTest::keyClick(m_view.get(), Qt::Key_End);
    EXPECT_EQ(m_view->CurrentPosition(), total);
    EXPECT_EQ(Picture()->PlaceholderId(), 156);
    QTest::keyClick(m_view.get(), Qt::Key_Home);
    EXPECT_EQ(m_view->CurrentPosition(), 0u);
    EXPECT_EQ(Position(), QStringLiteral("0:00:00.000"));
    EXPECT_TRUE(ShowsPicture());
    // And stepping on from there finds the next picture, as before.
    QTest::keyClick(m_view.get(), Qt::Key_Right);
    EXPECT_EQ(m_view->CurrentPosition(), forward);
    EXPECT_TRUE(ShowsPicture());
}

TEST_F(ViewTest, HeldWithCtrlTheSmallStepGrowsAndStaysCapped) {
    Open(m_sample);
    Seek(CRaveloView::kSmallForward);  // sets the bit-rate step
    const std::uint32_t last = CRaveloView::LastSmallStep();
    CtrlDown ctrl;
    platform::SetKeyState(&ctrl);
    const std::uint64_t start = m_view->CurrentPosition();
    m_view->OnSeek(CRaveloView::kSmallForward, 10);  // 2^2 times the last step
    EXPECT_GE(m_view->CurrentPosition() + 1, start + 4 * last);
    EXPECT_EQ(CRaveloView::LastSmallStep(), last);
    // Minutes of holding: no overflow, the step stays at its cap and the
    // position within the recording.
    m_view->OnSeek(CRaveloView::kSmallBack, 1000000);
    EXPECT_EQ(m_view->CurrentPosition(), 0u);
    m_view->OnSeek(CRaveloView::kLargeForward, 1000000);
    EXPECT_EQ(m_view->CurrentPosition(), m_view->TotalSectors() - 1);
}

TEST_F(ViewTest, TwoCutAreasAreListedSelectedAndStored) {
    Open(m_sample);
    // Start Cut on an empty list creates Cut-area 1.
    Seek(CRaveloView::kSmallForward);
    const std::uint64_t start1 = m_view->CurrentPosition();
    Click(CRaveloView::kStartCut);
    EXPECT_EQ(Rows(), QStringList{"Cut-area 1"});
    for (int i = 0; i < 3; ++i)
        Seek(CRaveloView::kSmallForward);
    const std::uint64_t end1 = m_view->CurrentPosition();
    ASSERT_GT(end1, start1);
    Click(CRaveloView::kEndCut);

    Click(CRaveloView::kNewArea);
    EXPECT_EQ(Rows(), (QStringList{"Cut-area 1", "Cut-area 2"}));
    for (int i = 0; i < 5; ++i)
        Seek(CRaveloView::kSmallForward);
    const std::uint64_t start2 = m_view->CurrentPosition();
    Click(CRaveloView::kStartCut);
    for (int i = 0; i < 3; ++i)
        Seek(CRaveloView::kSmallForward);
    const std::uint64_t end2 = m_view->CurrentPosition();
    Click(CRaveloView::kEndCut);
    EXPECT_TRUE(m_prompts.asked.empty());

    const CCutList& list = m_doc->Model().m_cutList;
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].SectorStart, start1);
    EXPECT_EQ(list[0].SectorEnd, end1);
    EXPECT_TRUE(list[0].IsEnabled);
    EXPECT_EQ(list[1].SectorStart, start2);
    EXPECT_EQ(list[1].SectorEnd, end2);
    EXPECT_GT(list[1].PTSEnd, list[1].PTSStart);

    // Selecting an area jumps to its start, selecting it again to its end.
    SelectRow(0);
    EXPECT_EQ(m_view->CurrentPosition(), start1);
    SelectRow(0);
    EXPECT_EQ(m_view->CurrentPosition(), end1);
    SelectRow(0);
    EXPECT_EQ(m_view->CurrentPosition(), start1);

    // Closing stores both areas under the recording's title.
    m_doc->OnCloseDocument();
    const auto stored = StoredAreas("sample.ts");
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(stored[0],
              std::make_pair(static_cast<std::uint32_t>(start1), static_cast<std::uint32_t>(end1)));
    EXPECT_EQ(stored[1],
              std::make_pair(static_cast<std::uint32_t>(start2), static_cast<std::uint32_t>(end2)));

    // And the next open finds them again.
    Open(m_sample);
    EXPECT_EQ(Rows(), (QStringList{"Cut-area 1", "Cut-area 2"}));
}

TEST_F(ViewTest, StartMarkBehindTheEndAsksForANewArea) {
    Open(m_sample);
    Seek(CRaveloView::kSmallForward);
    Click(CRaveloView::kStartCut);
    Seek(CRaveloView::kSmallForward);
    Click(CRaveloView::kEndCut);
    const std::uint64_t end = m_doc->Model().m_cutList[0].SectorEnd;
    for (int i = 0; i < 3; ++i)
        Seek(CRaveloView::kSmallForward);
    const std::uint64_t here = m_view->CurrentPosition();

    m_prompts.answers = {PromptAnswer::Yes};
    Click(CRaveloView::kStartCut);
    ASSERT_EQ(m_prompts.asked.size(), 1u);
    EXPECT_EQ(m_prompts.asked[0].caption, "ATTENTION!");
    EXPECT_EQ(m_prompts.asked[0].text,
              "This start mark is defined after the last end mark. Create a new mark instead?");
    EXPECT_EQ(m_prompts.asked[0].buttons, PromptButtons::YesNo);
    const CCutList& list = m_doc->Model().m_cutList;
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].SectorEnd, end);  // untouched
    EXPECT_EQ(list[1].SectorStart, here);
    EXPECT_EQ(list[1].SectorEnd, here);
    EXPECT_FALSE(list[1].IsEnabled);

    // "No" moves the start of the selected area (and its end along with it).
    SelectRow(0);
    for (int i = 0; i < 6; ++i)
        Seek(CRaveloView::kSmallForward);
    const std::uint64_t later = m_view->CurrentPosition();
    m_prompts.answers = {PromptAnswer::No};
    Click(CRaveloView::kStartCut);
    EXPECT_EQ(m_prompts.asked.size(), 2u);
    EXPECT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].SectorStart, later);
    EXPECT_EQ(list[0].SectorEnd, later);
    EXPECT_FALSE(list[0].IsEnabled);

    // Delete removes the selected area and leaves no row selected.
    SelectRow(1);
    Click(CRaveloView::kDeleteArea);
    EXPECT_EQ(Rows(), QStringList{"Cut-area 1"});
    Click(CRaveloView::kDeleteArea);  // nothing selected: nothing happens
    EXPECT_EQ(Rows(), QStringList{"Cut-area 1"});
}

TEST_F(ViewTest, PictureIsSavedWhereTheUserSays) {
    Open(m_sample);
    const std::string target = m_dir.File("mine%d.bmp");
    m_prompts.saveNames = {target};
    Click(CRaveloView::kSavePicture);
    ASSERT_EQ(m_prompts.proposedSaveNames.size(), 1u);
    EXPECT_EQ(m_prompts.proposedSaveNames[0], m_output + "/Snapshot.bmp");
    EXPECT_FALSE(QImage(QString::fromStdString(target)).isNull());  // the name as typed
    CPreferences::SetUseSourceAsOutputPath(true);
    Click(CRaveloView::kSavePicture);  // cancelled: nothing written
    EXPECT_EQ(m_prompts.proposedSaveNames.back(), m_dir.Path().string() + "/Snapshot.bmp");
    EXPECT_FALSE(std::filesystem::exists(m_dir.File("Snapshot.bmp")));
}

TEST_F(ViewTest, DemuxAndCreateMpegFileWriteDecodableFilesAndAskBeforeOverwriting) {
    Open(m_sample);
    Click(CRaveloView::kDemux);
    ASSERT_TRUE(m_progress->IsFinished());
    EXPECT_EQ(m_progress->ButtonText(), QStringLiteral("OK"));
    EXPECT_TRUE(m_progress->Caption().endsWith("[100.0%]")) << m_progress->Caption().toStdString();
    EXPECT_TRUE(m_progress->Lines().filter(QRegularExpression("^Done, \\d+s$")).size() == 1)
        << m_progress->Lines().join('|').toStdString();
    m_progress->OnButton();  // OK
    EXPECT_EQ(m_progress->Window(), nullptr);
    const std::filesystem::path demux = std::filesystem::path(m_output) / "~demux";
    EXPECT_TRUE(DecodesCleanly((demux / "sample.m2v").string()));
    EXPECT_TRUE(std::filesystem::exists(demux / "sample.ac3"));

    // The second track of the combo goes into the program stream.
    Ctl<QComboBox>(m_view.get(), CRaveloView::kAudioCombo)->setCurrentIndex(1);
    Click(CRaveloView::kCreateMpeg);
    m_progress->OnButton();
    const std::filesystem::path mpg = demux / "sample.mpg";
    ASSERT_TRUE(std::filesystem::exists(mpg));
    EXPECT_TRUE(DecodesCleanly(mpg.string()));
    const auto size = std::filesystem::file_size(mpg);

    // "Create VOB File" takes the same track: the VOB holds the video and it.
    Click(CRaveloView::kCreateVob);
    m_progress->OnButton();
    const std::filesystem::path vob = demux / "sample.vob";
    ASSERT_TRUE(std::filesystem::exists(vob));
    EXPECT_TRUE(DecodesCleanly(vob.string()));
    EXPECT_EQ(std::system(("ffprobe -v error -show_entries stream=codec_name -of default=nw=1:nk=1 '" +
                           vob.string() + "' | tr '\\n' ' ' | grep -qx 'dvd_nav_packet mpeg2video mp2 '")
                              .c_str()),
              0);

    // Again: the file exists. "No" asks for a new name, and that name is used.
    m_prompts.answers = {PromptAnswer::No};
    m_prompts.inputs = {std::string("renamed")};
    Click(CRaveloView::kCreateMpeg);
    m_progress->OnButton();
    ASSERT_GE(m_prompts.asked.size(), 2u);
    EXPECT_EQ(m_prompts.asked[0].text, "File [sample.mpg]\r\nin path [" + demux.string() +
                                           "]\r\nalready exists. Overwrite?");
    EXPECT_EQ(m_prompts.asked[1].caption, "Rename file");
    EXPECT_EQ(m_prompts.asked[1].text, "New filename|sample");
    EXPECT_EQ(std::filesystem::file_size(demux / "renamed.mpg"), size);
    // "Yes" overwrites.
    m_prompts.asked.clear();
    m_prompts.answers = {PromptAnswer::Yes};
    std::filesystem::resize_file(mpg, 10);
    Click(CRaveloView::kCreateMpeg);
    m_progress->OnButton();
    EXPECT_EQ(m_prompts.asked.size(), 1u);
    EXPECT_EQ(std::filesystem::file_size(mpg), size);
}

TEST_F(ViewTest, CancelStopsAJobAndTheWindowStaysUsable) {
    Open(m_sample);
    // Every progress report pumps events: the clock runs a second per reading.
    std::uint64_t now = 0;
    platform::SetClockForTesting([&now] { return now += 1000; });
    bool clicked = false;
    bool ownerDisabled = false;
    bool modal = false;
    std::function<void()> pressCancel = [&] {
        if (m_progress->IsRunning()) {
            // While the job pumps events: the window is modal and its owner disabled.
            ownerDisabled = !m_view->isEnabled();
            modal = QApplication::activeModalWidget() == m_progress->Window();
            m_progress->OnButton();
            clicked = true;
        } else {
            QTimer::singleShot(1, pressCancel);
        }
    };
    QTimer::singleShot(0, pressCancel);
    Click(CRaveloView::kCreateMpeg);
    EXPECT_TRUE(clicked);
    EXPECT_TRUE(ownerDisabled);
    EXPECT_TRUE(modal);
    EXPECT_TRUE(m_progress->Lines().contains("Aborted by user"))
        << m_progress->Lines().join('|').toStdString();
    if (m_progress->Window()) m_progress->OnButton();
    EXPECT_EQ(m_progress->Window(), nullptr);
    EXPECT_FALSE(m_view->IsJobRunning());
    EXPECT_TRUE(Ctl(m_view.get(), CRaveloView::kCreateMpeg)->isEnabled());
}

TEST_F(ViewTest, ReadOnlyRecordingSaysSoAndCannotBeCutInPlace) {
    // Another program holding the recording: the write lock is refused.
    const int fd = ::open(m_sample.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    Open(m_sample);
    ::close(fd);
    EXPECT_TRUE(m_doc->IsReadOnly());
    ASSERT_EQ(m_prompts.asked.size(), 1u);
    EXPECT_EQ(m_prompts.asked[0].caption, "ATTENTION!");
    EXPECT_EQ(m_prompts.asked[0].text,
              "This file is marked as read only! It cannot be modified or cut directly. "
              "Demultiplexing with cut-areas is possible, though.\r\nPlease remove the attribute "
              "'read-only' if you want to modify this file directly.");
    EXPECT_FALSE(Ctl(m_view.get(), CRaveloView::kRemoveCuts)->isEnabled());
    EXPECT_TRUE(Ctl(m_view.get(), CRaveloView::kDemux)->isEnabled());
    EXPECT_TRUE(Ctl(m_view.get(), CRaveloView::kCopy)->isEnabled());
}

TEST_F(ViewTest, DirectHelpTipsFollowTheSetting) {
    Open(m_sample);
    ASSERT_NE(m_view->InfoTip(), nullptr);
    EXPECT_EQ(m_view->InfoTip()->ToolCount(), 10);
    EXPECT_EQ(m_view->InfoTip()->ToolText(Ctl(m_view.get(), CRaveloView::kCopy)),
              QStringLiteral("Copies recording into a new file.\nCut-areas will be left out."));
    m_view->ApplyDirectHelp(false);
    EXPECT_EQ(m_view->InfoTip(), nullptr);
}
