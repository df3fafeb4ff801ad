// The cut editor as users work with it beyond stepping: readable times, the
// picture following a dragged slider, undo and redo of cut edits, "Remove
// cuts in recording" and what the jobs say about their outputs, and files
// that are no recordings at all.
#include <QComboBox>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTimer>
#include <QUndoStack>
#include <filesystem>
#include <fstream>
#include <random>

#include "shell/qt/qt_prompts.h"
#include "view_fixture.h"

namespace {
// The recording's length as ffprobe counts it: (frames - 1) at 25 per second.
QString SampleLengthText(const std::string& path) {
    const std::string command =
        "ffprobe -v error -count_frames -select_streams v "
        "-show_entries stream=nb_read_frames -of csv=p=0 '" +
        path + "'";
    FILE* pipe = ::popen(command.c_str(), "r");
    int frames = 0;
    if (pipe == nullptr || std::fscanf(pipe, "%d", &frames) != 1) frames = 0;
    if (pipe != nullptr) ::pclose(pipe);
    const int ms = (frames - 1) * 40;
    return QStringLiteral("0:%1:%2.%3")
        .arg(ms / 60000, 2, 10, QLatin1Char('0'))
        .arg(ms / 1000 % 60, 2, 10, QLatin1Char('0'))
        .arg(ms % 1000, 3, 10, QLatin1Char('0'));
}

std::uintmax_t FileSize(const std::string& path) {
    return std::filesystem::file_size(path);
}

class ViewEditTest : public ViewTest {
  protected:
    QUndoStack* Undo() { return m_view->UndoStack(); }
    CCutList& Areas() { return m_doc->Model().m_cutList; }
    void SelectRowQuietly(int row) {
        Ctl<QListWidget>(m_view.get(), CRaveloView::kCutList)->setCurrentRow(row);
    }
    QString Info() {
        return Ctl<QPlainTextEdit>(m_view.get(), CRaveloView::kInfoBox)->toPlainText();
    }
};
}  // namespace

TEST_F(ViewEditTest, TimesShowPositionLengthAndEachAreasMarks) {
    Open(m_sample);
    const QString length = SampleLengthText(m_sample);
    ASSERT_EQ(length, QStringLiteral("0:00:09.960"));
    EXPECT_EQ(Time(), QStringLiteral("0:00:00.000 / ") + length);
    Seek(CRaveloView::kSmallForward);
    Seek(CRaveloView::kSmallForward);
    const QString start = Position();
    Click(CRaveloView::kStartCut);
    EXPECT_EQ(RowText(0), QStringLiteral("Cut-area 1   ") + start + QStringLiteral(" -"));
    for (int i = 0; i < 6; ++i)
        Seek(CRaveloView::kSmallForward);
    const QString end = Position();
    EXPECT_TRUE(Time().endsWith(QStringLiteral(" / ") + length));
    Click(CRaveloView::kEndCut);
    // The length is end minus start, both as the time label showed them.
    auto ms = [](const QString& time) {
        const QStringList parts = time.split(QRegularExpression("[:.]"));
        return ((parts[0].toInt() * 60 + parts[1].toInt()) * 60 + parts[2].toInt()) * 1000 +
               parts[3].toInt();
    };
    const int span = ms(end) - ms(start);
    ASSERT_GT(span, 0);
    EXPECT_EQ(RowText(0), QStringLiteral("Cut-area 1   %1 - %2  (0:00:%3.%4)")
                              .arg(start, end)
                              .arg(span / 1000, 2, 10, QLatin1Char('0'))
                              .arg(span % 1000, 3, 10, QLatin1Char('0')));
}

TEST_F(ViewEditTest, PictureFollowsADraggedSliderAndShowsTheLastPosition) {
    Open(m_sample);
    auto* slider = Ctl<QSlider>(m_view.get(), CRaveloView::kSlider);
    const int total = slider->maximum();
    const std::int64_t first = m_view->CurrentStamp();
    slider->setSliderDown(true);
    slider->setSliderPosition(total / 2);
    const std::int64_t middle = m_view->CurrentStamp();
    EXPECT_GT(middle, first);  // the first move is shown at once
    // Moves within the interval wait; the last one is shown when it ends.
    slider->setSliderPosition(total / 4);
    slider->setSliderPosition(total * 3 / 4);
    EXPECT_EQ(m_view->CurrentStamp(), middle);
    QTest::qWait(300);
    const std::int64_t later = m_view->CurrentStamp();
    EXPECT_GT(later, middle);
    EXPECT_TRUE(ShowsPicture());
    // Letting go shows where the slider was let go.
    slider->setSliderPosition(total / 4);
    slider->setSliderDown(false);
    EXPECT_LT(m_view->CurrentStamp(), middle);
    EXPECT_GT(m_view->CurrentStamp(), first);
}

TEST_F(ViewEditTest, UndoAndRedoWalkBackAndForthThroughAddChangeAndDelete) {
    Open(m_sample);
    Seek(CRaveloView::kSmallForward);
    Click(CRaveloView::kStartCut);  // appends the area and marks its start: one step
    const CCutList started = Areas();
    for (int i = 0; i < 3; ++i)
        Seek(CRaveloView::kSmallForward);
    Click(CRaveloView::kEndCut);
    const CCutList ended = Areas();
    for (int i = 0; i < 3; ++i)
        Seek(CRaveloView::kSmallForward);
    Click(CRaveloView::kEndCut);  // the end moves on
    const CCutList moved = Areas();
    Click(CRaveloView::kNewArea);
    const CCutList added = Areas();
    SelectRowQuietly(0);
    Click(CRaveloView::kDeleteArea);
    const CCutList deleted = Areas();
    ASSERT_EQ(Undo()->count(), 5);
    ASSERT_EQ(deleted.size(), 1u);
    EXPECT_FALSE(deleted[0].IsEnabled);  // the empty one is left

    const std::vector<CCutList> states{{}, started, ended, moved, added, deleted};
    auto expectState = [&](std::size_t index) {
        const CCutList& want = states[index];
        ASSERT_EQ(Areas().size(), want.size()) << index;
        for (std::size_t i = 0; i < want.size(); ++i) {
            EXPECT_EQ(Areas()[i].SectorStart, want[i].SectorStart) << index;
            EXPECT_EQ(Areas()[i].SectorEnd, want[i].SectorEnd) << index;
            EXPECT_EQ(Areas()[i].PTSEnd, want[i].PTSEnd) << index;
            EXPECT_EQ(Areas()[i].IsEnabled, want[i].IsEnabled) << index;
        }
        EXPECT_EQ(Rows().size(), static_cast<int>(want.size())) << index;
    };
    for (std::size_t state = states.size() - 1; state > 0; --state) {
        Undo()->undo();
        expectState(state - 1);
    }
    EXPECT_FALSE(Undo()->canUndo());
    for (std::size_t state = 1; state < states.size(); ++state) {
        Undo()->redo();
        expectState(state);
    }
    // Undone, and a new edit: the redo branch is gone.
    Undo()->undo();
    Undo()->undo();
    Click(CRaveloView::kNewArea);
    EXPECT_FALSE(Undo()->canRedo());
    EXPECT_EQ(Areas().size(), 2u);
    // A step that changes nothing (End Cut without a selection) is no step.
    const int steps = Undo()->count();
    SelectRowQuietly(-1);
    Click(CRaveloView::kEndCut);
    EXPECT_EQ(Undo()->count(), steps);
    // The history lasts until the recording is closed.
    Open(m_sample);
    EXPECT_FALSE(Undo()->canUndo());
}

TEST_F(ViewEditTest, RemoveCutsAsksWithNoAsTheDefaultAndShowsTheShorterFile) {
    Open(m_sample);
    for (int i = 0; i < 5; ++i)
        Seek(CRaveloView::kSmallForward);
    Click(CRaveloView::kStartCut);
    Seek(CRaveloView::kLargeForward);
    Seek(CRaveloView::kSmallBack);
    Seek(CRaveloView::kSmallBack);
    Click(CRaveloView::kEndCut);
    ASSERT_TRUE(Areas().at(0).IsEnabled);
    const std::uintmax_t size = FileSize(m_sample);
    const QString infoBefore = Info();

    // The window's own question: Enter answers No, nothing changes.
    CQtPrompts qtPrompts;
    SetPrompts(&qtPrompts);
    QString asked;
    QTimer::singleShot(0, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            asked = box->text();
            QTest::keyClick(box, Qt::Key_Return);
        }
    });
    Click(CRaveloView::kRemoveCuts);
    SetPrompts(&m_prompts);
    EXPECT_TRUE(asked.contains("irreversible") || asked.contains("Irreversible"))
        << asked.toStdString();
    EXPECT_EQ(FileSize(m_sample), size);
    EXPECT_EQ(Areas().size(), 1u);
    EXPECT_EQ(Info(), infoBefore);

    // Yes: the recording is shorter, and the window says so everywhere.
    m_prompts.answers = {PromptAnswer::Yes};
    Click(CRaveloView::kRemoveCuts);
    if (m_progress->Window()) m_progress->OnButton();
    const std::uintmax_t shorter = FileSize(m_sample);
    ASSERT_LT(shorter, size);
    EXPECT_TRUE(Areas().empty());
    EXPECT_TRUE(Rows().isEmpty());
    EXPECT_FALSE(Undo()->canUndo());  // its marks described the longer file
    auto* slider = Ctl<QSlider>(m_view.get(), CRaveloView::kSlider);
    EXPECT_EQ(static_cast<std::uintmax_t>(slider->maximum()), shorter >> 9);
    EXPECT_TRUE(Info().contains(QStringLiteral("File size:\t%1MB").arg(shorter >> 20)))
        << Info().toStdString();
    EXPECT_EQ(m_view->CurrentPosition(), 0u);
    EXPECT_TRUE(ShowsPicture());
    EXPECT_EQ(Position(), QStringLiteral("0:00:00.000"));
}

TEST_F(ViewEditTest, JobsSayWhereTheirOutputWent) {
    Open(m_sample);
    Click(CRaveloView::kDemux);
    const QStringList lines = m_progress->Lines();
    const std::string demux = m_output + "/~demux/";
    for (const char* name : {"sample.m2v", "sample.mp2", "sample(2).mp2", "sample.ac3"})
        EXPECT_TRUE(lines.contains(QString::fromStdString("Writing " + demux + name)))
            << name << " in " << lines.join('|').toStdString();
    m_progress->OnButton();

    const std::string copy = m_dir.File("edited.ts");
    m_prompts.saveNames = {copy};
    Click(CRaveloView::kCopy);
    ASSERT_TRUE(std::filesystem::exists(copy));
    ASSERT_FALSE(m_prompts.asked.empty());
    EXPECT_EQ(m_prompts.asked.back().text, "The edited recording was written to\r\n" + copy);
}

TEST_F(ViewEditTest, AFocusedSeekButtonStepsOnSpace) {
    Open(m_sample);
    Seek(CRaveloView::kSmallForward);
    const std::uint64_t byMouse = m_view->CurrentPosition();
    QTest::keyClick(m_view.get(), Qt::Key_Home);
    auto* forward = Ctl<CSeekButton>(m_view.get(), CRaveloView::kSmallForward);
    forward->setFocus();
    QTest::keyClick(forward, Qt::Key_Space);
    EXPECT_EQ(m_view->CurrentPosition(), byMouse);
    QTest::keyClick(forward, Qt::Key_Return);
    EXPECT_GT(m_view->CurrentPosition(), byMouse);
}

TEST_F(ViewEditTest, FilesWithoutTransportStreamPacketsAreSaidSoAndOfferNoJobs) {
    const std::string png = m_dir.File("picture.png");
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    ASSERT_TRUE(image.save(QString::fromStdString(png)));
    const std::string empty = m_dir.File("empty.ts");
    std::ofstream(empty).close();
    const std::string noise = m_dir.File("noise.ts");
    {
        std::mt19937 random(14);
        std::ofstream out(noise, std::ios::binary);
        for (int i = 0; i < 3 << 20; ++i)
            out.put(static_cast<char>(random() & 0xFF));
    }
    for (const std::string& path : {png, empty, noise}) {
        m_prompts.asked.clear();
        Open(path);
        ASSERT_EQ(m_prompts.asked.size(), 1u) << path;
        EXPECT_EQ(m_prompts.asked[0].text, "The file\r\n" + path +
                                               "\r\nholds no MPEG transport-stream packets: it "
                                               "cannot be shown, cut or converted.");
        EXPECT_TRUE(Info().startsWith("This file holds no MPEG transport-stream packets."))
            << Info().toStdString();
        EXPECT_FALSE(Info().contains("Resolution"));
        EXPECT_EQ(Picture()->PlaceholderId(), 157);
        for (int id : {CRaveloView::kDemux, CRaveloView::kCreateMpeg, CRaveloView::kCopy,
                       CRaveloView::kRemoveCuts, CRaveloView::kStartCut, CRaveloView::kSlider,
                       CRaveloView::kSmallForward, CRaveloView::kSavePicture})
            EXPECT_FALSE(Ctl<QWidget>(m_view.get(), id)->isEnabled()) << path << " " << id;
        QTest::keyClick(m_view.get(), Qt::Key_Right);  // nothing to step through
        EXPECT_EQ(m_view->CurrentPosition(), 0u);
    }
    // A real recording after them is a recording again.
    m_prompts.asked.clear();
    Open(m_sample);
    EXPECT_TRUE(m_prompts.asked.empty());
    EXPECT_TRUE(Ctl(m_view.get(), CRaveloView::kDemux)->isEnabled());
    EXPECT_TRUE(ShowsPicture());
}
