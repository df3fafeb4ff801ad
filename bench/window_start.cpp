// Start-up to the first picture on screen: starts the window the way `ravelo`
// does with a recording (or, with --bare, only an empty main window: the cost
// of starting Qt itself) and ends the process the moment the picture (or the
// empty window) has been painted. bench_window_start.sh times whole runs.
#include <unistd.h>
#include <QApplication>
#include <QEvent>
#include <QMainWindow>
#include <QTimer>
#include <cstdio>

#include "app/qt/ravelo_app.h"
#include "app/qt/ravelo_view.h"
#include "app/qt/snapshot_source.h"
#include "platform/settings_store.h"
#include "shell/qt/main_frame.h"
#include "shell/qt/qsettings_store.h"

namespace {
// Ends the process once `watched` has been painted.
class EndAfterPaint : public QObject {
  public:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            QTimer::singleShot(0, [] {
                std::fflush(stdout);
                ::_exit(0);  // no teardown: it is not part of the start
            });
        return false;
    }
};
}  // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    const QStringList arguments = application.arguments().mid(1);
    EndAfterPaint end;
    if (arguments.value(0) == QStringLiteral("--bare")) {
        QMainWindow window;
        window.resize(1000, 600);
        window.installEventFilter(&end);
        window.show();
        return application.exec();
    }
    if (arguments.size() != 1) {
        std::fprintf(stderr, "usage: window_start (--bare | RECORDING)\n");
        return 2;
    }
    QApplication::setApplicationName(QStringLiteral("Ravelo"));
    QApplication::setOrganizationName(QStringLiteral("Korvane"));
    QSettingsStore store;
    platform::SetSettingsStore(&store);
    CRaveloApp ravelo(EngineSnapshotSource());
    if (!ravelo.InitInstance(arguments)) return 1;
    QWidget* picture = ravelo.View()->findChild<QWidget*>(QStringLiteral("ctl1022"));
    if (picture == nullptr) return 1;
    picture->installEventFilter(&end);
    picture->update();
    return application.exec();
}
