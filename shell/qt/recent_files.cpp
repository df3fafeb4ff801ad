#include "shell/qt/recent_files.h"

#include <QFileInfo>

#include "platform/settings_store.h"

namespace {
constexpr const char* kGroup = "Recent File List";

std::string Key(int i) {
    return "File" + std::to_string(i + 1);
}
}  // namespace

QStringList CRecentFiles::Load() {
    QStringList files;
    for (int i = 0; i < kSize; ++i) {
        auto value = platform::Settings().GetString(kGroup, Key(i));
        if (value && !value->empty()) files << QString::fromStdString(*value);
    }
    return files;
}

void CRecentFiles::Add(const QString& path) {
    const QString absolute = QFileInfo(path).absoluteFilePath();
    QStringList files = Load();
    files.removeAll(absolute);
    files.prepend(absolute);
    Store(files);
}

void CRecentFiles::Remove(const QString& path) {
    QStringList files = Load();
    files.removeAll(path);
    Store(files);
}

void CRecentFiles::Store(const QStringList& files) {
    // Entries past the end are written empty: the store has no value removal,
    // and an empty entry reads as none.
    for (int i = 0; i < kSize; ++i)
        platform::Settings().SetString(kGroup, Key(i),
                                       i < files.size() ? files[i].toStdString() : std::string());
    platform::Settings().Sync();
}
