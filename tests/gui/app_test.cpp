// The application: start-up with and without a recording, the log's first
// lines, and every way out storing the cut list (close, "I don't agree",
// opening another recording, closing during a job).
#include <QAbstractButton>
#include <QApplication>
#include <QMap>
#include <QMenuBar>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>

#include "app/cut_list.h"
#include "app/qt/engine_snapshot_source.h"
#include "app/qt/ravelo_app.h"
#include "app/qt/ravelo_doc.h"
#include "app/qt/ravelo_view.h"
#include "platform/clock.h"
#include "platform/settings_store.h"
#include "shell/log.h"
#include "shell/qt/main_frame.h"
#include "support/ts_builder.h"
#include "window_fixture.h"

namespace {
class AppTest : public WindowTest {
  protected:
    void TearDown() override {
        platform::SetClockForTesting({});
        LogClose();
        WindowTest::TearDown();
    }
    // Start-up installs the window's own answers; the test takes them back.
    bool Start(CRaveloApp& app, const QStringList& arguments) {
        app.UsePrompts(&m_prompts);
        const bool started = app.InitInstance(arguments);
        if (app.Frame()) QApplication::setActiveWindow(app.Frame());
        return started;
    }
    // One enabled area at the start of the recording.
    static void MarkArea(CRaveloApp& app) {
        CRaveloView* view = app.View();
        view->OnSeek(CRaveloView::kSmallForward, 0);
        view->OnStartCut();
        view->OnSeek(CRaveloView::kSmallForward, 0);
        view->OnSeek(CRaveloView::kSmallForward, 0);
        view->OnEndCut();
        ASSERT_TRUE(app.Doc().Model().m_cutList.at(0).IsEnabled);
    }

    CEngineSnapshotSource m_source;
};
}  // namespace

TEST_F(AppTest, StartsEmptyWithoutArgumentsAndWritesTheLogHeader) {
    platform::Settings().SetInt("Defaults", "LogLevel", 1);
    std::filesystem::create_directories(m_output + "/~log");
    CRaveloApp app(m_source);
    ASSERT_TRUE(Start(app, {}));
    EXPECT_FALSE(app.Doc().IsOpen());
    EXPECT_EQ(app.Frame()->windowTitle(), QStringLiteral("Untitled - Ravelo"));
    EXPECT_TRUE(app.Frame()->isVisible());
    const std::string logPath = LogFilePath();
    ASSERT_FALSE(logPath.empty());
    EXPECT_EQ(logPath.rfind(m_output + "/~log/Debug", 0), 0u) << logPath;
    std::ifstream log(logPath, std::ios::binary);
    std::string first, second, third, fourth;
    std::getline(log, first);
    std::getline(log, second);
    std::getline(log, third);
    std::getline(log, fourth);
    EXPECT_EQ(first, "Ravelo Version 0.96 (Beta)\r");
    EXPECT_EQ(second, "   running on: Linux\r");
    EXPECT_EQ(third, "Output Path: " + m_output + "\r");
    EXPECT_EQ(fourth, "\\ CRaveloApp::InitInstance\r");
}

TEST_F(AppTest, OpensTheRecordingOfTheCommandLineAndRemembersIt) {
    CRaveloApp app(m_source);
    ASSERT_TRUE(Start(app, {QString::fromStdString(m_sample)}));
    EXPECT_TRUE(app.Doc().IsOpen());
    EXPECT_EQ(app.Frame()->windowTitle(), QStringLiteral("sample.ts - Ravelo"));
    EXPECT_EQ(platform::Settings().GetString("Recent File List", "File1"),
              std::optional<std::string>(m_sample));
    EXPECT_FALSE(app.OpenDocument(QString::fromStdString(m_dir.File("missing.ts"))));
    EXPECT_EQ(
        m_prompts.asked.back().text,
        "Failed to open document.\r\n" + m_dir.File("missing.ts") + ": No such file or directory");
    EXPECT_TRUE(app.Doc().IsOpen());  // the open recording stays
}

TEST_F(AppTest, AStartWithAFileThatCannotBeOpenedSaysWhichAndWhy) {
    {
        CRaveloApp app(m_source);
        EXPECT_FALSE(Start(app, {QString::fromStdString(m_dir.File("missing.ts"))}));
        ASSERT_EQ(m_prompts.asked.size(), 1u);
        EXPECT_EQ(m_prompts.asked[0].text, "Failed to open document.\r\n" +
                                               m_dir.File("missing.ts") +
                                               ": No such file or directory");
    }
    m_prompts.asked.clear();
    {
        CRaveloApp app(m_source);
        EXPECT_FALSE(Start(app, {QString::fromStdString(m_dir.Path().string())}));
        ASSERT_EQ(m_prompts.asked.size(), 1u);
        EXPECT_EQ(m_prompts.asked[0].text,
                  "Failed to open document.\r\n" + m_dir.Path().string() + ": Is a directory");
    }
    m_prompts.asked.clear();
    CRaveloApp app(m_source);
    EXPECT_FALSE(Start(app, {"a.ts", "b.ts"}));
    ASSERT_EQ(m_prompts.asked.size(), 1u);
    EXPECT_EQ(m_prompts.asked[0].text,
              "Ravelo opens one recording at a time, but the command line names 2 files:\r\n"
              "a.ts\r\nb.ts");
}

TEST_F(AppTest, ExitStoresTheCutList) {
    CRaveloApp app(m_source);
    ASSERT_TRUE(Start(app, {QString::fromStdString(m_sample)}));
    MarkArea(app);
    app.Frame()->ActionExit()->trigger();
    EXPECT_FALSE(app.Frame()->isVisible());
    EXPECT_EQ(StoredAreas("sample.ts").size(), 1u);
}

TEST_F(AppTest, NotAgreeingEndsTheProgramThroughTheNormalClose) {
    CRaveloApp app(m_source);
    ASSERT_TRUE(Start(app, {QString::fromStdString(m_sample)}));
    MarkArea(app);
    QStringList shown;
    app.SetAboutRunner([&](const QStringList& decoders) {
        shown = decoders;
        return false;  // "I don't agree" or Escape
    });
    app.OnAbout();
    EXPECT_EQ(shown.value(0), QStringLiteral("Ravelo MPEG-2 snapshot decoder"));
    PumpFor(50);
    EXPECT_FALSE(app.Frame()->isVisible());
    EXPECT_FALSE(app.Doc().IsOpen());
    EXPECT_EQ(StoredAreas("sample.ts").size(), 1u);
}

TEST_F(AppTest, AgreeingKeepsTheProgramRunning) {
    CRaveloApp app(m_source);
    ASSERT_TRUE(Start(app, {}));
    app.SetAboutRunner([](const QStringList&) { return true; });
    app.OnAbout();
    PumpFor(50);
    EXPECT_TRUE(app.Frame()->isVisible());
}

TEST_F(AppTest, OpeningAnotherRecordingStoresTheCutListOfTheFirst) {
    const std::string other = CopySample("other.ts");
    CRaveloApp app(m_source);
    ASSERT_TRUE(Start(app, {QString::fromStdString(m_sample)}));
    MarkArea(app);
    ASSERT_TRUE(app.OpenDocument(QString::fromStdString(other)));
    EXPECT_EQ(StoredAreas("sample.ts").size(), 1u);
    EXPECT_TRUE(app.Doc().Model().m_cutList.empty());
    EXPECT_EQ(app.Frame()->windowTitle(), QStringLiteral("other.ts - Ravelo"));
}

TEST_F(AppTest, ClosingDuringAJobCancelsItFirstThenCloses) {
    CRaveloApp app(m_source);
    ASSERT_TRUE(Start(app, {QString::fromStdString(m_sample)}));
    SetProgress(&app.ProgressWindow());
    MarkArea(app);
    std::uint64_t now = 0;
    platform::SetClockForTesting([&now] { return now += 1000; });
    bool refused = false;
    std::function<void()> closeNow = [&] {
        if (!app.ProgressWindow().IsRunning()) {
            QTimer::singleShot(1, closeNow);
            return;
        }
        refused = !app.Frame()->close();
    };
    QTimer::singleShot(0, closeNow);
    app.View()->OnCreateMpeg();
    EXPECT_TRUE(refused);
    EXPECT_TRUE(app.ProgressWindow().IsCancelled());
    PumpFor(50);
    EXPECT_FALSE(app.Frame()->isVisible());
    EXPECT_EQ(app.ProgressWindow().Window(), nullptr);
    EXPECT_EQ(StoredAreas("sample.ts").size(), 1u);
}

TEST_F(AppTest, StoredAreasOfAnotherRecordingOfTheSameNameAreOfferedForDiscarding) {
    std::filesystem::create_directories(m_dir.Path() / "other");
    tsb::RecordingPlan plan;
    plan.firstPts = 5400000;
    const tsb::Bytes data = tsb::BuildRecording(plan);
    const std::string other = m_dir.File("other/sample.ts");
    WriteFileBytes(other, std::vector<unsigned char>(data.begin(), data.end()));
    CRaveloApp app(m_source);
    ASSERT_TRUE(Start(app, {QString::fromStdString(m_sample)}));
    MarkArea(app);
    // No: the areas are neither applied nor lost.
    m_prompts.answers = {PromptAnswer::No};
    ASSERT_TRUE(app.OpenDocument(QString::fromStdString(other)));
    ASSERT_FALSE(m_prompts.asked.empty());
    EXPECT_NE(m_prompts.asked.back().text.find("belong to another recording of the same name"),
              std::string::npos);
    EXPECT_TRUE(app.Doc().Model().m_cutList.empty());
    ASSERT_TRUE(app.OpenDocument(QString::fromStdString(m_sample)));
    EXPECT_EQ(app.Doc().Model().m_cutList.size(), 1u);
    // Yes: they go.
    m_prompts.answers = {PromptAnswer::Yes};
    ASSERT_TRUE(app.OpenDocument(QString::fromStdString(other)));
    EXPECT_TRUE(StoredAreas("sample.ts").empty());
}

TEST_F(AppTest, StartUpLeavesTheSystemsDecodersToTheAboutBox) {
    // A gst-inspect-1.0 that notes every call: start-up must not wait on it.
    const std::filesystem::path bin = m_dir.Path() / "bin";
    std::filesystem::create_directories(bin);
    const std::string calls = (bin / "calls").string();
    {
        std::ofstream script(bin / "gst-inspect-1.0");
        script << "#!/bin/sh\necho \"$@\" >> '" << calls << "'\n";
    }
    std::filesystem::permissions(bin / "gst-inspect-1.0", std::filesystem::perms::owner_all);
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QByteArray::fromStdString(bin.string()) + ':' + path);
    CRaveloApp app(m_source);
    const bool started = Start(app, {QString::fromStdString(m_sample)});
    const bool calledAtStart = std::filesystem::exists(calls);
    app.SetAboutRunner([](const QStringList&) { return true; });
    app.OnAbout();
    qputenv("PATH", path);
    ASSERT_TRUE(started);
    EXPECT_FALSE(calledAtStart);
    EXPECT_TRUE(std::filesystem::exists(calls));  // the About box lists them
}

TEST_F(AppTest, KeysReachTheRecordingAfterOpeningAndUndoWorksFromTheKeyboard) {
    CRaveloApp app(m_source);
    ASSERT_TRUE(Start(app, {}));
    ASSERT_TRUE(app.OpenDocument(QString::fromStdString(m_sample)));  // with its scan window
    EXPECT_EQ(app.ProgressWindow().Window(), nullptr);
    // The window system activates the main window again in its own time.
    EXPECT_TRUE(QTest::qWaitFor([] { return QApplication::focusWidget() != nullptr; }, 1000));
    EXPECT_EQ(QApplication::activeWindow(), app.Frame());
    QWidget* focus = QApplication::focusWidget();
    ASSERT_NE(focus, nullptr);
    EXPECT_TRUE(focus == app.View() || app.View()->isAncestorOf(focus));
    QTest::keyClick(focus, Qt::Key_Right);
    EXPECT_GT(app.View()->CurrentPosition(), 0u);

    app.View()->OnStartCut();
    ASSERT_EQ(app.Doc().Model().m_cutList.size(), 1u);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_TRUE(app.Doc().Model().m_cutList.empty());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Y, Qt::ControlModifier);
    EXPECT_EQ(app.Doc().Model().m_cutList.size(), 1u);
    EXPECT_EQ(app.Frame()->OutputFolderText(), QString::fromStdString("Output: " + m_output));
}

TEST_F(AppTest, EveryAltKeyOfTheWindowLeadsToOneControl) {
    // Two controls with one Alt key only take turns at the focus: the key
    // would no longer press "End Cut".
    CRaveloApp app(m_source);
    ASSERT_TRUE(Start(app, {QString::fromStdString(m_sample)}));
    QMap<QChar, QString> owners;
    auto take = [&](const QString& text) {
        const qsizetype at = text.indexOf('&');
        if (at < 0 || at + 1 >= text.size()) return;
        const QChar key = text[at + 1].toLower();
        EXPECT_FALSE(owners.contains(key))
            << "Alt+" << QString(key).toStdString() << ": " << owners.value(key).toStdString()
            << " and " << text.toStdString();
        owners.insert(key, text);
    };
    for (QAction* menu : app.Frame()->menuBar()->actions())
        if (menu->isVisible()) take(menu->text());
    for (QAbstractButton* button : app.View()->findChildren<QAbstractButton*>())
        if (button->isVisibleTo(app.View())) take(button->text());
    EXPECT_TRUE(owners.contains('e'));  // "&End Cut"
}
