#pragma once
// The main window: menu, tool bar, status bar (messages and the output
// folder), the recent-file list and drag and drop of a file. It opens at
// 1000 x 600 (or what its form needs, within the screen), can be resized down
// to what the form needs, and comes back where the user left it. It knows
// nothing of recordings: it sends commands to the application.

#include <QList>
#include <QMainWindow>
#include <functional>

class QAction;
class QLabel;
class QMenu;

class CMainFrame : public QMainWindow {
    Q_OBJECT
  public:
    explicit CMainFrame(QWidget* parent = nullptr);

    // Decides whether the window may close now (the application stores the
    // cut list, or cancels a running job first and closes later).
    void SetCloseGuard(std::function<bool()> guard) { m_closeGuard = std::move(guard); }
    void RefreshRecentFiles();
    // The window's size and place: the stored ones, else 1000 x 600 (never
    // smaller than the form needs nor larger than the screen). Call once the
    // central widget is in.
    void RestoreGeometry();
    void SaveGeometry() const;
    // The Edit menu's entries (the cut editor's undo and redo).
    void SetEditActions(QAction* undo, QAction* redo);
    // The permanent status-bar pane with the folder the jobs write to.
    void ShowOutputFolder(const QString& text);
    QString OutputFolderText() const;
    // The open dialog's filters, in their order.
    static QStringList OpenFilters();

    QAction* ActionOpen() const { return m_open; }
    QAction* ActionExit() const { return m_exit; }
    QAction* ActionSettings() const { return m_settings; }
    QAction* ActionAbout() const { return m_about; }
    QAction* ActionHelp() const { return m_help; }
    const QList<QAction*>& RecentActions() const { return m_recent; }

  signals:
    void CommandNew();
    void CommandOpen();
    void CommandOpenFile(const QString& path);
    void CommandSettings();
    void CommandAbout();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    void CreateMenu();
    void CreateToolBar();
    void CreateStatusBar();

    QAction* m_open = nullptr;
    QAction* m_exit = nullptr;
    QAction* m_settings = nullptr;
    QAction* m_about = nullptr;
    QAction* m_help = nullptr;
    QAction* m_recentEmpty = nullptr;
    QList<QAction*> m_recent;
    QMenu* m_fileMenu = nullptr;
    QMenu* m_editMenu = nullptr;
    QLabel* m_outputPane = nullptr;
    std::function<bool()> m_closeGuard;
};
