// Takes the screenshots of the window that scripts/screenshots.sh asks for:
// the main window with a recording open and a cut area selected (at its
// first size, its smallest and a large one), the splice preview, the
// progress window of "Demux to MPEG" naming its files, and the settings
// dialog. With --font-scale F every text is F times larger (only the main
// window is taken then). Runs on a real display (xvfb-run), grabbing the
// screen.
#include <QApplication>
#include <QDialog>
#include <QEventLoop>
#include <QListWidget>
#include <QScreen>
#include <QTimer>
#include <cstdio>
#include <cstring>

#include "app/qt/engine_snapshot_source.h"
#include "app/qt/ravelo_app.h"
#include "app/qt/ravelo_view.h"
#include "platform/clock.h"
#include "platform/settings_store.h"
#include "shell/log.h"
#include "shell/qt/dlg_settings.h"
#include "shell/qt/main_frame.h"
#include "shell/qt/progress_wnd.h"
#include "shell/qt/qsettings_store.h"

namespace {
// Runs the event loop for a while: timers fire, windows are drawn.
void Wait(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void Settle() {
    Wait(300);
}

bool Save(const QPixmap& picture, const QString& path) {
    const bool saved = picture.save(path);
    std::printf("%s %s\n", saved ? "wrote" : "FAILED", qPrintable(path));
    return saved;
}

// The screen around a window (its frame included).
bool GrabWindow(QWidget* window, const QString& path) {
    Settle();
    const QRect frame = window->frameGeometry();
    return Save(QGuiApplication::primaryScreen()->grabWindow(0, frame.x(), frame.y(), frame.width(),
                                                             frame.height()),
                path);
}

// One area in the middle of the recording, selected, its splice shown; the
// picture at its start.
void MarkArea(CRaveloView* view) {
    for (int i = 0; i < 5; ++i)
        view->OnSeek(CRaveloView::kSmallForward, 0);
    view->OnStartCut();
    for (int i = 0; i < 8; ++i)
        view->OnSeek(CRaveloView::kSmallForward, 0);
    view->OnEndCut();
    view->OnSelectArea();  // from its end to its start
    Wait(600);
}

// The progress window of "Demux to MPEG" once it has finished: its list
// names every file written.
int TakeProgress(CRaveloApp& app, const QString& out) {
    int failures = 0;
    app.View()->OnDemux();
    CProgressWnd& progress = app.ProgressWindow();
    if (progress.Window() != nullptr) {
        // The files come first in the list: that is what the picture is for.
        if (auto* list = progress.Window()->findChild<QListWidget*>(QStringLiteral("progressList")))
            list->scrollToTop();
        progress.Window()->move(app.Frame()->frameGeometry().center() -
                                QPoint(progress.Window()->width() / 2, 0));
        failures += !GrabWindow(progress.Window(), out + "/progress-window.png");
    } else {
        ++failures;
    }
    progress.Close();
    return failures;
}
}  // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    double fontScale = 1.0;
    QStringList arguments = application.arguments().mid(1);
    if (arguments.size() == 4 && arguments[0] == QStringLiteral("--font-scale")) {
        fontScale = arguments[1].toDouble();
        arguments = arguments.mid(2);
    }
    if (arguments.size() != 2 || fontScale <= 0) {
        std::fprintf(stderr,
                     "usage: ravelo_screenshots [--font-scale F] RECORDING OUTPUT_FOLDER\n");
        return 2;
    }
    const QString recording = arguments[0];
    const QString out = arguments[1];
    if (fontScale != 1.0) {
        QFont font = QApplication::font();
        font.setPointSizeF(font.pointSizeF() * fontScale);
        QApplication::setFont(font);
    }
    QSettingsStore store;
    platform::SetSettingsStore(&store);
    int failures = 0;
    {
        CRaveloApp app(EngineSnapshotSource());
        if (!app.InitInstance({recording})) return 1;
        CMainFrame* frame = app.Frame();
        frame->move(0, 0);
        QApplication::setActiveWindow(frame);
        Settle();
        MarkArea(app.View());
        if (fontScale != 1.0) {
            failures += !GrabWindow(frame, out + "/main-window-large-font.png");
        } else {
            failures += !GrabWindow(frame, out + "/main-window.png");
            failures +=
                !Save(app.View()->findChild<QWidget*>(QStringLiteral("splicePreview"))->grab(),
                      out + "/splice-preview.png");
            frame->resize(frame->minimumSizeHint());
            failures += !GrabWindow(frame, out + "/main-window-smallest.png");
            frame->resize(QGuiApplication::primaryScreen()->availableSize() - QSize(20, 40));
            failures += !GrabWindow(frame, out + "/main-window-large.png");
            frame->resize(1000, 600);
            failures += TakeProgress(app, out);

            QTimer::singleShot(300, [&] {
                failures +=
                    !GrabWindow(QApplication::activeModalWidget(), out + "/settings-dialog.png");
                if (QWidget* dialog = QApplication::activeModalWidget()) dialog->close();
            });
            CDlgSettings settings(frame);
            settings.move(120, 60);
            settings.exec();
        }
        frame->close();
    }
    platform::SetSettingsStore(nullptr);
    LogClose();
    return failures == 0 ? 0 : 1;
}
