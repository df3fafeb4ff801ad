// The main window: size, menu, status panes, open filters, recent files,
// drag and drop, and the close guard.
#include <QAction>
#include <QDropEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QSignalSpy>
#include <QStatusBar>
#include <QUrl>

#include "gui_fixture.h"
#include "platform/settings_store.h"
#include "shell/qt/main_frame.h"
#include "shell/qt/recent_files.h"

namespace {
QStringList MenuTexts(QMenu* menu) {
    QStringList texts;
    for (QAction* action : menu->actions())
        if (action->isVisible())
            texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
    return texts;
}

class MainFrameTest : public GuiTest {};
}  // namespace

TEST_F(MainFrameTest, ResizableWindowMenusAndStatusBar) {
    CMainFrame frame;
    EXPECT_EQ(frame.size(), QSize(1000, 600));
    EXPECT_LT(frame.minimumSize().width(), frame.maximumSize().width());
    EXPECT_TRUE(frame.windowFlags() & Qt::WindowMaximizeButtonHint);
    QList<QAction*> menus;
    for (QAction* menu : frame.menuBar()->actions())
        if (menu->isVisible()) menus << menu;
    ASSERT_EQ(menus.size(), 3);  // the Edit menu comes with the cut editor
    EXPECT_EQ(menus[0]->text(), QStringLiteral("&File"));
    EXPECT_EQ(menus[1]->text(), QStringLiteral("&View"));
    EXPECT_EQ(menus[2]->text(), QStringLiteral("&Help"));
    EXPECT_EQ(MenuTexts(menus[0]->menu()),
              (QStringList{"&Open...\tCtrl+O", "-", "Letzte Datei", "-", "E&xit"}));
    EXPECT_EQ(MenuTexts(menus[1]->menu()),
              (QStringList{"&Toolbar", "&Statusbar", "-", "Settings..."}));
    EXPECT_EQ(MenuTexts(menus[2]->menu()), (QStringList{"&Help", "-", "&About Ravelo..."}));
    EXPECT_FALSE(frame.ActionHelp()->isEnabled());
    EXPECT_EQ(frame.ActionOpen()->statusTip(), QStringLiteral("Opens existing document."));
    EXPECT_EQ(frame.ActionExit()->statusTip(),
              QStringLiteral("Closes the application and stores all data."));
    // There is no help to get, so the status bar does not point to it; and
    // no lock-key panes that could show a wrong state.
    EXPECT_TRUE(frame.statusBar()->currentMessage().isEmpty());
    for (const char* pane : {"UF", "NUM", "RF"})
        EXPECT_EQ(frame.statusBar()->findChild<QLabel*>(QStringLiteral("pane%1").arg(pane)),
                  nullptr);
    frame.ShowOutputFolder(QStringLiteral("Output: /videos/Ravelo"));
    EXPECT_EQ(frame.OutputFolderText(), QStringLiteral("Output: /videos/Ravelo"));
}

TEST_F(MainFrameTest, EditMenuCarriesUndoAndRedoWithTheirKeys) {
    CMainFrame frame;
    QAction undo(QStringLiteral("&Undo"));
    QAction redo(QStringLiteral("&Redo"));
    frame.SetEditActions(&undo, &redo);
    QAction* edit = frame.menuBar()->actions().value(1);
    ASSERT_NE(edit, nullptr);
    EXPECT_TRUE(edit->isVisible());
    EXPECT_EQ(edit->text(), QStringLiteral("Ed&it"));
    EXPECT_EQ(MenuTexts(edit->menu()), (QStringList{"&Undo", "&Redo"}));
    EXPECT_TRUE(undo.shortcuts().contains(QKeySequence(Qt::CTRL | Qt::Key_Z)));
    EXPECT_TRUE(undo.shortcuts().contains(QKeySequence(Qt::ALT | Qt::Key_Backspace)));
    EXPECT_TRUE(redo.shortcuts().contains(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)));
    EXPECT_TRUE(redo.shortcuts().contains(QKeySequence(Qt::CTRL | Qt::Key_Y)));
}

TEST_F(MainFrameTest, TheWindowComesBackWhereTheUserLeftIt) {
    {
        CMainFrame frame;
        frame.RestoreGeometry();  // nothing stored: the first size, within the screen
        EXPECT_EQ(frame.size(), QSize(1000, 600).boundedTo(frame.screen()->availableSize()));
        frame.show();
        frame.setGeometry(40, 50, 611, 477);
        PumpFor(20);
        EXPECT_TRUE(frame.close());
    }
    EXPECT_TRUE(platform::Settings().GetString("Window", "Geometry").has_value());
    CMainFrame again;
    again.RestoreGeometry();
    EXPECT_EQ(again.size(), QSize(611, 477));
}

TEST_F(MainFrameTest, OpenFiltersAreTheEightRecordingTypesInOrder) {
    const QStringList filters = CMainFrame::OpenFilters();
    ASSERT_EQ(filters.size(), 8);
    EXPECT_TRUE(filters[0].startsWith(
        "Transport Stream (*.ts; *.tts; *.mts; *.raw; *.rec; *.vid; *.trp) (*.ts *.TS *.tts"));
    EXPECT_TRUE(filters[5].startsWith("Humax Video Stream (*.vid) ("));
    EXPECT_TRUE(filters[6].startsWith("@skybox Transport Stream (*.trp) ("));
    EXPECT_EQ(filters[7], QStringLiteral("All Files (*.*) (*)"));
    for (const QString& filter : filters)
        EXPECT_FALSE(filter.contains(".ravelo"));
}

TEST_F(MainFrameTest, RecentFilesKeepFiveNewestFirstInTheStore) {
    for (int i = 1; i <= 7; ++i)
        CRecentFiles::Add(QStringLiteral("/rec/film%1.ts").arg(i));
    CRecentFiles::Add(QStringLiteral("/rec/film5.ts"));  // moves to the front
    const QStringList files = CRecentFiles::Load();
    EXPECT_EQ(files, (QStringList{"/rec/film5.ts", "/rec/film7.ts", "/rec/film6.ts",
                                  "/rec/film4.ts", "/rec/film3.ts"}));
    EXPECT_EQ(platform::Settings().GetString("Recent File List", "File1"),
              std::optional<std::string>("/rec/film5.ts"));
    CMainFrame frame;
    const QList<QAction*>& recent = frame.RecentActions();
    ASSERT_EQ(recent.size(), 5);
    EXPECT_EQ(recent[0]->text(), QStringLiteral("&1 /rec/film5.ts"));
    QSignalSpy opened(&frame, &CMainFrame::CommandOpenFile);
    recent[1]->trigger();
    ASSERT_EQ(opened.count(), 1);
    EXPECT_EQ(opened[0][0].toString(), QStringLiteral("/rec/film7.ts"));
    CRecentFiles::Remove(QStringLiteral("/rec/film7.ts"));
    frame.RefreshRecentFiles();
    EXPECT_FALSE(recent[4]->isVisible());
}

TEST_F(MainFrameTest, DroppedFileIsOpened) {
    CMainFrame frame;
    QSignalSpy opened(&frame, &CMainFrame::CommandOpenFile);
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QStringLiteral("/rec/dropped.ts"))});
    QDropEvent drop(QPointF(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    // Straight to the window: the application only routes drops of a real drag.
    static_cast<QObject&>(frame).event(&drop);
    ASSERT_EQ(opened.count(), 1);
    EXPECT_EQ(opened[0][0].toString(), QStringLiteral("/rec/dropped.ts"));
}

TEST_F(MainFrameTest, CloseGuardCanRefuseTheClose) {
    CMainFrame frame;
    bool allow = false;
    int asked = 0;
    frame.SetCloseGuard([&] {
        ++asked;
        return allow;
    });
    frame.show();
    EXPECT_FALSE(frame.close());
    EXPECT_TRUE(frame.isVisible());
    allow = true;
    EXPECT_TRUE(frame.close());
    EXPECT_EQ(asked, 2);
}
