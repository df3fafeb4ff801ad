// ravelo [RECORDING]: the window, with the recording opened when one is given.
#include <QApplication>

#include "app/qt/ravelo_app.h"
#include "app/qt/snapshot_source.h"
#include "platform/allocator.h"
#include "platform/settings_store.h"
#include "ravelo_version.h"
#include "shell/log.h"
#include "shell/qt/qsettings_store.h"

int main(int argc, char* argv[]) {
    platform::KeepFreedBlocks();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ravelo"));
    QApplication::setOrganizationName(QStringLiteral("Korvane"));
    QApplication::setApplicationVersion(QStringLiteral(RAVELO_VERSION));
    // Wayland shells find the window's icon and name through its desktop entry.
    QGuiApplication::setDesktopFileName(QStringLiteral("com.korvane.Ravelo"));
    QSettingsStore store;  // Korvane/Ravelo, with the recent-file list in it
    platform::SetSettingsStore(&store);
    int result = 1;
    {
        CRaveloApp ravelo(EngineSnapshotSource());
        if (ravelo.InitInstance(application.arguments().mid(1))) result = application.exec();
    }
    store.Sync();
    platform::SetSettingsStore(nullptr);
    LogClose();
    return result;
}
