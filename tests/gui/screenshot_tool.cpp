// Takes the screenshots of the window that scripts/screenshots.sh asks for:
// the main window with a recording open, the progress window during a job and
// the settings dialog. Runs on a real display (xvfb-run), grabbing the screen.
#include <QApplication>
#include <QDialog>
#include <QScreen>
#include <QTimer>
#include <cstdio>

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
bool Grab(const QString& path) {
    QCoreApplication::processEvents();
    const bool saved = QGuiApplication::primaryScreen()->grabWindow(0).save(path);
    std::printf("%s %s\n", saved ? "wrote" : "FAILED", qPrintable(path));
    return saved;
}
}  // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: ravelo_screenshots RECORDING OUTPUT_FOLDER\n");
        return 2;
    }
    const QString recording = QString::fromLocal8Bit(argv[1]);
    const QString out = QString::fromLocal8Bit(argv[2]);
    QSettingsStore store;
    platform::SetSettingsStore(&store);
    int failures = 0;
    {
        CRaveloApp app(EngineSnapshotSource());
        if (!app.InitInstance({recording})) return 1;
        app.Frame()->move(0, 0);
        QApplication::setActiveWindow(app.Frame());
        for (int i = 0; i < 20; ++i)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        // A cut area, so that the list and the slider's band show.
        CRaveloView* view = app.View();
        for (int i = 0; i < 3; ++i)
            view->OnSeek(CRaveloView::kSmallForward, 0);
        view->OnStartCut();
        for (int i = 0; i < 8; ++i)
            view->OnSeek(CRaveloView::kSmallForward, 0);
        view->OnEndCut();
        failures += !Grab(out + "/main-window.png");

        // The progress window in the middle of "Demux to MPEG": every progress
        // report pumps events, and the picture is taken past 30 %.
        std::uint64_t now = 0;
        platform::SetClockForTesting([&now] { return now += 1000; });
        bool taken = false;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            CProgressWnd& progress = app.ProgressWindow();
            if (taken || !progress.IsRunning() || progress.BarValue() < 300) return;
            taken = true;
            failures += !Grab(out + "/progress-window.png");
        });
        poll.start(0);
        view->OnDemux();
        poll.stop();
        platform::SetClockForTesting({});
        if (!taken) failures += !Grab(out + "/progress-window.png");
        app.ProgressWindow().Close();

        QTimer::singleShot(300, [&] {
            failures += !Grab(out + "/settings-dialog.png");
            if (QWidget* dialog = QApplication::activeModalWidget()) dialog->close();
        });
        CDlgSettings settings(app.Frame());
        settings.move(120, 60);
        settings.exec();
        app.Frame()->close();
    }
    platform::SetSettingsStore(nullptr);
    LogClose();
    return failures == 0 ? 0 : 1;
}
