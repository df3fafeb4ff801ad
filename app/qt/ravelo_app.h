#pragma once
// The application: start-up (settings store, log, main window, command line,
// decoder check, output folders) and the application-level commands (open,
// new, settings, about). Every way out of the program goes through the main
// window's close, which stores the cut list of the open recording.

#include <QObject>
#include <QStringList>
#include <functional>
#include <memory>

class CMainFrame;
class CProgressWnd;
class CQtKeyState;
class CQtPrompts;
class CRaveloDoc;
class CRaveloView;
class IPrompts;
class ISnapshotSource;
class QSocketNotifier;
namespace platform {
class ISettingsStore;
}

class CRaveloApp : public QObject {
    Q_OBJECT
  public:
    // source: the picture search and decoder the view uses.
    explicit CRaveloApp(ISnapshotSource& source);
    ~CRaveloApp() override;

    // arguments: the command line without the program name; at most one
    // recording. False ends the program.
    bool InitInstance(const QStringList& arguments);

    bool OpenDocument(const QString& path);
    void OnFileOpen();
    void OnFileNew();
    void OnSettings();
    void OnAbout();
    // Ends the program the normal way (the cut list is stored).
    void EndProgram();

    CMainFrame* Frame() const { return m_frame.get(); }
    CRaveloView* View() const { return m_view; }
    CRaveloDoc& Doc() { return *m_doc; }
    CProgressWnd& ProgressWindow() { return *m_progress; }

    // Questions go to these answers instead of the window's dialogs (tests).
    void UsePrompts(IPrompts* prompts) { m_promptsOverride = prompts; }

    // The about box is run through this hook, so that tests can answer it.
    using AboutRunner = std::function<bool(const QStringList& decoders)>;
    void SetAboutRunner(AboutRunner runner) { m_aboutRunner = std::move(runner); }

  private:
    bool CanClose();
    void UpdateTitle();
    // The status bar's pane names the folder the jobs write to.
    void ShowOutputFolder();
    void InstallTerminationHandler();

    std::unique_ptr<CProgressWnd> m_progress;
    std::unique_ptr<CQtPrompts> m_prompts;
    std::unique_ptr<CQtKeyState> m_keyState;
    std::unique_ptr<CRaveloDoc> m_doc;
    std::unique_ptr<CMainFrame> m_frame;
    CRaveloView* m_view = nullptr;
    ISnapshotSource& m_source;
    bool m_busy = false;          // an open (with its scan) is under way
    bool m_closePending = false;  // the window is to close once the work ends
    AboutRunner m_aboutRunner;
    QSocketNotifier* m_termination = nullptr;
    IPrompts* m_promptsOverride = nullptr;
};
