#pragma once
// The most recently used recordings, five entries, kept in the settings store
// as "Recent File List"/File1..File5 (File1 the newest).

#include <QStringList>

class CRecentFiles {
  public:
    static constexpr int kSize = 5;

    static QStringList Load();
    // Moves path to the front (adding it when new) and stores the list.
    static void Add(const QString& path);
    static void Remove(const QString& path);

  private:
    static void Store(const QStringList& files);
};
