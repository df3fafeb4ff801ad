// The main window's layout at the normal and at a 1.5 times larger font, at
// the smallest size the layout allows and at a large one: no control covers
// another or leaves the window, buttons are wide enough for their texts, and
// the picture keeps its display aspect ratio.
#include <QAbstractButton>
#include <QApplication>
#include <QScreen>
#include <QTest>
#include <cmath>

#include "app/qt/engine_snapshot_source.h"
#include "app/qt/ravelo_app.h"
#include "app/qt/ravelo_view.h"
#include "controls/picture_view.h"
#include "shell/log.h"
#include "shell/qt/main_frame.h"
#include "window_fixture.h"

namespace {
// The program's own controls: the form's ("ctl<id>") and the splice pane's.
QList<QWidget*> Controls(QWidget* view) {
    QList<QWidget*> controls;
    for (QWidget* w : view->findChildren<QWidget*>()) {
        const QString name = w->objectName();
        if (w->isVisibleTo(view) && (name.startsWith("ctl") || name.startsWith("splice")))
            controls << w;
    }
    return controls;
}

QRect InView(QWidget* view, QWidget* w) {
    return QRect(w->mapTo(view, QPoint(0, 0)), w->size());
}

void ExpectTidyLayout(QWidget* view, const std::string& where) {
    const QList<QWidget*> controls = Controls(view);
    ASSERT_GT(controls.size(), 25) << where;
    for (QWidget* a : controls) {
        const QRect ra = InView(view, a);
        EXPECT_TRUE(view->rect().contains(ra))
            << where << ": " << a->objectName().toStdString() << " leaves the window";
        if (auto* button = qobject_cast<QAbstractButton*>(a)) {
            EXPECT_GE(a->width(), button->minimumSizeHint().width())
                << where << ": " << a->objectName().toStdString() << " too narrow";
        }
        for (QWidget* b : controls) {
            if (a >= b || a->isAncestorOf(b) || b->isAncestorOf(a)) continue;
            EXPECT_FALSE(ra.intersects(InView(view, b)))
                << where << ": " << a->objectName().toStdString() << " overlaps "
                << b->objectName().toStdString();
        }
    }
}

void ExpectPictureAspect(CPictureView* picture, double aspect, const std::string& where) {
    const QRect shown = picture->PictureRect();
    ASSERT_FALSE(shown.isEmpty()) << where;
    // Whole pixels: within one pixel of the exact shape.
    EXPECT_NEAR(shown.width(), shown.height() * aspect, aspect + 1) << where;
    EXPECT_TRUE(picture->rect().contains(shown)) << where;
    EXPECT_TRUE(shown.width() == picture->width() || shown.height() == picture->height())
        << where << ": the picture does not use the room it has";
}

class ViewLayoutTest : public WindowTest, public ::testing::WithParamInterface<double> {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        m_font = QApplication::font();
        QFont larger = m_font;
        larger.setPointSizeF(m_font.pointSizeF() * GetParam());
        QApplication::setFont(larger);
    }
    void TearDown() override {
        QApplication::setFont(m_font);
        LogClose();
        WindowTest::TearDown();
    }
    QFont m_font;
    CEngineSnapshotSource m_source;
};
}  // namespace

TEST_P(ViewLayoutTest, NothingOverlapsAtTheSmallestAndAtALargeSize) {
    CRaveloApp app(m_source);
    app.UsePrompts(&m_prompts);
    ASSERT_TRUE(app.InitInstance({QString::fromStdString(m_sample)}));
    CMainFrame* frame = app.Frame();
    CRaveloView* view = app.View();
    // An area, so that the list, its times and the splice pane have content.
    for (int i = 0; i < 2; ++i)
        view->OnSeek(CRaveloView::kSmallForward, 0);
    view->OnStartCut();
    for (int i = 0; i < 8; ++i)
        view->OnSeek(CRaveloView::kSmallForward, 0);
    view->OnEndCut();
    view->OnSeek(CRaveloView::kLargeBack, 0);  // the first picture, 16:9
    view->UpdateSplicePreview();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !view->SpliceBefore()->IsEmpty() && !view->SpliceAfter()->IsEmpty(); }, 3000));
    auto* picture = view->findChild<CPictureView*>(QStringLiteral("ctl1022"));
    ASSERT_NE(picture, nullptr);
    ASSERT_EQ(picture->PlaceholderId(), 0);

    const std::string font = "font x" + std::to_string(GetParam());
    QApplication::processEvents();  // the layouts take in the texts set above
    const QSize smallest = frame->minimumSizeHint();
    for (const QSize& size : {smallest, QSize(1920, 1200)}) {
        frame->resize(size);
        QApplication::processEvents();
        const std::string where =
            font + " at " + std::to_string(frame->width()) + "x" + std::to_string(frame->height());
        EXPECT_GE(frame->width(), smallest.width()) << where;
        ExpectTidyLayout(view, where);
        ExpectPictureAspect(picture, 16.0 / 9.0, where);
        ExpectPictureAspect(view->SpliceBefore(), 16.0 / 9.0, where + " splice");
    }
    // The picture grows with the window.
    EXPECT_GT(picture->PictureRect().width(), 700);
    if (GetParam() == 1.0) {
        // At the normal font the whole window fits a 1280 x 800 screen at
        // 150 % scaling (853 x 533 logical pixels, less the title bar).
        EXPECT_LE(smallest.width(), 853);
        EXPECT_LE(smallest.height(), 500);
    }
    frame->close();
}

INSTANTIATE_TEST_SUITE_P(Fonts, ViewLayoutTest, ::testing::Values(1.0, 1.5));
