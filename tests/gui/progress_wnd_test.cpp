// The progress window: caption percentage, finish rule, modality and owner,
// Cancel/OK, the message list and the layout.
#include <QListWidget>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>

#include "gui_fixture.h"
#include "shell/log.h"
#include "shell/qt/progress_wnd.h"

namespace {
class ProgressWndTest : public GuiTest {
  protected:
    void SetUp() override {
        GuiTest::SetUp();
        m_owner.resize(300, 200);
        m_owner.show();
        QApplication::setActiveWindow(&m_owner);
    }
    QWidget m_owner;
};

QPushButton* Button(CProgressWnd& progress) {
    return progress.Window()->findChild<QPushButton*>(QStringLiteral("progressButton"));
}
}  // namespace

TEST_F(ProgressWndTest, CaptionShowsTitleAndTenthsOfAPercentOnceEachChange) {
    CProgressWnd progress;
    ASSERT_TRUE(progress.Open("Demuxing", false));
    progress.SetRange(0, 1000, 1);
    QSignalSpy titles(progress.Window(), &QWidget::windowTitleChanged);
    progress.SetPos(425);
    EXPECT_EQ(progress.Caption(), QStringLiteral("Demuxing [42.5%]"));
    progress.SetPos(425);
    progress.SetPos(4251 / 10);  // the same tenths again
    EXPECT_EQ(titles.count(), 1);
    progress.SetPos(5);
    EXPECT_EQ(progress.Caption(), QStringLiteral("Demuxing [0.5%]"));
    // Positions past the range are clamped to 100 %.
    progress.SetPos(5000);
    EXPECT_EQ(progress.Caption(), QStringLiteral("Demuxing [100.0%]"));
    progress.Close();
}

TEST_F(ProgressWndTest, FinishCompletesTheBarOnlyAbove95Percent) {
    CProgressWnd progress;
    ASSERT_TRUE(progress.Open("Copy", true));
    progress.SetRange(0, 1000, 1);
    progress.SetPos(960);
    progress.Finish();
    EXPECT_EQ(progress.BarValue(), 1000);
    EXPECT_EQ(progress.Caption(), QStringLiteral("Copy [100.0%]"));
    EXPECT_EQ(progress.ButtonText(), QStringLiteral("OK"));
    progress.Close();

    ASSERT_TRUE(progress.Open("Copy", true));
    progress.SetRange(0, 1000, 1);
    progress.SetPos(940);
    progress.Finish();
    EXPECT_EQ(progress.BarValue(), 940);
    progress.Close();
}

TEST_F(ProgressWndTest, OwnerIsDisabledAndWindowModalUntilClosed) {
    CProgressWnd progress;
    ASSERT_TRUE(progress.Open("Opening", false));
    EXPECT_FALSE(m_owner.isEnabled());
    EXPECT_TRUE(progress.Window()->isVisible());
    EXPECT_EQ(progress.Window()->windowModality(), Qt::ApplicationModal);
    EXPECT_TRUE(progress.IsRunning());
    // Events pumped meanwhile keep the window alive but reach no other window.
    EXPECT_TRUE(progress.Pump());
    progress.Close();
    EXPECT_TRUE(m_owner.isEnabled());
    EXPECT_EQ(progress.Window(), nullptr);
    EXPECT_FALSE(progress.IsRunning());
}

TEST_F(ProgressWndTest, CancelWhileRunningThenOkAfterFinishCloses) {
    CProgressWnd progress;
    ASSERT_TRUE(progress.Open("Demuxing", false));
    EXPECT_EQ(progress.ButtonText(), QStringLiteral(" Cancel "));
    QTest::mouseClick(Button(progress), Qt::LeftButton);
    EXPECT_TRUE(progress.IsCancelled());
    // A cancelled job keeps its owner disabled until it has wound down.
    EXPECT_FALSE(m_owner.isEnabled());
    EXPECT_NE(progress.Window(), nullptr);
    progress.Close();

    ASSERT_TRUE(progress.Open("Demuxing", false));
    EXPECT_FALSE(progress.IsCancelled());
    progress.Finish();
    QTest::mouseClick(Button(progress), Qt::LeftButton);
    EXPECT_FALSE(progress.IsCancelled());
    EXPECT_EQ(progress.Window(), nullptr);
    EXPECT_TRUE(m_owner.isEnabled());
}

TEST_F(ProgressWndTest, CloseBoxActsLikeTheButton) {
    CProgressWnd progress;
    ASSERT_TRUE(progress.Open("Demuxing", false));
    progress.Window()->close();
    EXPECT_TRUE(progress.IsCancelled());
    EXPECT_NE(progress.Window(), nullptr);
    progress.Close();
}

TEST_F(ProgressWndTest, MessagesReachTheListOnlyWhileItIsShown) {
    CProgressWnd progress;
    ASSERT_TRUE(progress.Open("Demuxing", false));
    LogPrint("hidden list", 3);
    progress.SetLayout(2, 390, true);
    LogPrint("first", 3);  // any level: the list does not filter
    LogPrintf("Audio frame %d padded", 7);
    EXPECT_EQ(progress.Lines(),
              (QStringList{QStringLiteral("first"), QStringLiteral("Audio frame 7 padded")}));
    auto* list = progress.Window()->findChild<QListWidget*>(QStringLiteral("progressList"));
    EXPECT_EQ(list->currentRow(), 1);
    progress.Close();
    LogPrint("after close", 1);  // no window: nothing happens
}

TEST_F(ProgressWndTest, LayoutPlacesBarLeftOfButtonAndListBelowWithoutOverlap) {
    CProgressWnd progress;
    ASSERT_TRUE(progress.Open("Demuxing", false));
    QWidget* window = progress.Window();
    const int heightWithout = window->height();
    progress.SetLayout(2, 390, true);
    EXPECT_EQ(window->width(), 410);
    EXPECT_EQ(window->height() - heightWithout, 150 + QFontMetrics(window->font()).lineSpacing());
    auto* text = window->findChild<QWidget*>(QStringLiteral("progressText"));
    auto* bar = window->findChild<QProgressBar*>(QStringLiteral("progressBar"));
    auto* button = Button(progress);
    auto* list = window->findChild<QListWidget*>(QStringLiteral("progressList"));
    EXPECT_EQ(button->geometry().right(), text->geometry().right());
    EXPECT_EQ(button->geometry().top(), text->geometry().bottom() + 1 + 10);
    EXPECT_LT(bar->geometry().right(), button->geometry().left());
    EXPECT_GT(list->geometry().top(), bar->geometry().bottom());
    EXPECT_GT(list->geometry().top(), button->geometry().bottom());
    EXPECT_LE(list->geometry().bottom(), window->height());
    EXPECT_TRUE(list->isVisible());
    progress.SetLayout(0, 390, false);
    EXPECT_FALSE(text->isVisible());
    EXPECT_FALSE(list->isVisible());
    progress.Close();
}

TEST_F(ProgressWndTest, OperationsWithoutAWindowDoNothing) {
    CProgressWnd progress;
    EXPECT_EQ(progress.SetPos(10), 0);
    progress.SetText("x");
    progress.AddLine("x");
    progress.Finish();
    progress.Close();
    EXPECT_EQ(progress.Window(), nullptr);
    EXPECT_TRUE(m_owner.isEnabled());
}

TEST_F(ProgressWndTest, ClosingGivesTheKeyboardBackToTheOwnerAfterHidingItself) {
    // A window manager will not activate the owner while a modal window of
    // the application is still up: the progress window must be gone first.
    auto* field = new QPushButton(QStringLiteral("field"), &m_owner);
    field->setFocusPolicy(Qt::StrongFocus);
    field->show();
    field->setFocus();
    ASSERT_EQ(QApplication::focusWidget(), field);
    CProgressWnd progress;
    ASSERT_TRUE(progress.Open("Scanning", false));
    EXPECT_FALSE(m_owner.isEnabled());
    EXPECT_NE(QApplication::focusWidget(), field);

    // The owner is enabled and activated in one go: it must not happen while
    // the progress window is still shown.
    bool progressShownAtActivation = true;
    struct EnableWatch : QObject {
        std::function<void()> onEnable;
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::EnabledChange) onEnable();
            return false;
        }
    } watch;
    QPointer<QWidget> progressWindow = progress.Window();
    watch.onEnable = [&] {
        progressShownAtActivation = progressWindow && progressWindow->isVisible();
    };
    m_owner.installEventFilter(&watch);
    progress.Close();
    m_owner.removeEventFilter(&watch);

    EXPECT_FALSE(progressShownAtActivation);
    EXPECT_TRUE(m_owner.isEnabled());
    EXPECT_EQ(QApplication::focusWidget(), field);
}

TEST_F(ProgressWndTest, ALongLineWidensTheWindowSoThatItIsReadWhole) {
    CProgressWnd progress;
    ASSERT_TRUE(progress.Open("Demuxing", false));
    progress.SetLayout(1, 390, true);
    QWidget* window = progress.Window();
    LogPrint("short", 1);
    EXPECT_EQ(window->width(), 410);
    const QString path = QStringLiteral("Writing /home/user/Videos/Ravelo/~demux/") +
                         QString(40, QLatin1Char('x')) + QStringLiteral(".m2v");
    LogPrint(path.toStdString(), 1);
    auto* list = window->findChild<QListWidget*>(QStringLiteral("progressList"));
    EXPECT_GT(window->width(), 410);
    EXPECT_GE(list->viewport()->width(), QFontMetrics(list->font()).horizontalAdvance(path));
    // The rules of the layout still hold at the new width.
    auto* bar = window->findChild<QProgressBar*>(QStringLiteral("progressBar"));
    EXPECT_EQ(Button(progress)->geometry().right(), list->geometry().right());
    EXPECT_LT(bar->geometry().right(), Button(progress)->geometry().left());
    progress.Close();
}
