#include "app/qt/ravelo_app.h"

#include <sys/socket.h>
#include <unistd.h>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QStatusBar>
#include <QSysInfo>
#include <QTimer>
#include <QUndoStack>
#include <csignal>

#include "app/qt/cut_list_file_commands.h"
#include "app/qt/ravelo_doc.h"
#include "app/qt/ravelo_view.h"
#include "res/strings.h"
#include "shell/log.h"
#include "shell/output_folder.h"
#include "shell/preferences.h"
#include "shell/prompts.h"
#include "shell/qt/decoder_list.h"
#include "shell/qt/dlg_about.h"
#include "shell/qt/main_frame.h"
#include "shell/qt/progress_wnd.h"
#include "shell/qt/qt_key_state.h"
#include "shell/qt/qt_prompts.h"
#include "shell/qt/recent_files.h"

namespace {
int g_signalPipe[2] = {-1, -1};

void OnTerminationSignal(int) {
    const char byte = 1;
    // Only async-signal-safe work here: the event loop does the rest.
    [[maybe_unused]] ssize_t written = ::write(g_signalPipe[0], &byte, 1);
}

std::string PlatformLine() {
    QString kernel = QSysInfo::kernelType();
    if (!kernel.isEmpty()) kernel[0] = kernel[0].toUpper();
    return "   running on: " + kernel.toStdString();
}
}  // namespace

CRaveloApp::CRaveloApp(ISnapshotSource& source) : m_source(source) {}

CRaveloApp::~CRaveloApp() {
    if (m_doc) m_doc->OnCloseDocument();
    m_frame.reset();
    SetPrompts(nullptr);
    SetProgress(nullptr);
    platform::SetKeyState(nullptr);
}

bool CRaveloApp::InitInstance(const QStringList& arguments) {
    LogOpen();
    LogWrite(LoadResString(ids::kVersion), 1);
    LogWrite(PlatformLine(), 1);
    LogWrite("Output Path: " + CPreferences::GetOutputPath(), 1);
    LogScope scope("CRaveloApp::InitInstance", 1);

    m_progress = std::make_unique<CProgressWnd>();
    m_prompts = std::make_unique<CQtPrompts>();
    m_keyState = std::make_unique<CQtKeyState>();
    SetProgress(m_progress.get());
    SetPrompts(m_promptsOverride ? m_promptsOverride : m_prompts.get());
    platform::SetKeyState(m_keyState.get());

    m_doc = std::make_unique<CRaveloDoc>();
    m_frame = std::make_unique<CMainFrame>();
    m_view = new CRaveloView(*m_doc, m_source, m_frame.get());
    m_frame->setCentralWidget(m_view);
    new CCutListFileCommands(*m_frame, *m_doc, *m_view);  // owned by the frame
    m_frame->SetEditActions(m_view->UndoStack()->createUndoAction(m_frame.get(), "&Undo"),
                            m_view->UndoStack()->createRedoAction(m_frame.get(), "&Redo"));
    m_frame->RestoreGeometry();
    m_frame->SetCloseGuard([this] { return CanClose(); });
    connect(m_view, &CRaveloView::StatusMessage, this,
            [this](const QString& text) { m_frame->statusBar()->showMessage(text); });
    connect(m_doc.get(), &CRaveloDoc::DocumentChanged, this, [this] {
        UpdateTitle();
        m_view->OnInitialUpdate();
    });
    connect(m_frame.get(), &CMainFrame::CommandOpen, this, &CRaveloApp::OnFileOpen);
    connect(m_frame.get(), &CMainFrame::CommandNew, this, &CRaveloApp::OnFileNew);
    connect(m_frame.get(), &CMainFrame::CommandOpenFile, this,
            [this](const QString& path) { OpenDocument(path); });
    connect(m_frame.get(), &CMainFrame::CommandSettings, this, &CRaveloApp::OnSettings);
    connect(m_frame.get(), &CMainFrame::CommandAbout, this, &CRaveloApp::OnAbout);
    connect(m_view, &CRaveloView::JobFinished, this, [this] {
        if (m_closePending) QTimer::singleShot(0, m_frame.get(), &QWidget::close);
    });
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
        CProgressWnd::SetQuitting(true);
        m_doc->OnCloseDocument();
    });
    InstallTerminationHandler();

    // The work folders must exist before the first picture is searched for.
    CheckOutputFolder();
    ShowOutputFolder();

    if (arguments.size() > 1) {
        LogWrite("Too many arguments", 1);
        Prompts().Ask(LoadResString(ids::kAppTitle),
                      "Ravelo opens one recording at a time, but the command line names " +
                          std::to_string(arguments.size()) + " files:\r\n" +
                          arguments.join(QStringLiteral("\r\n")).toStdString(),
                      PromptButtons::Ok, PromptIcon::Warning);
        return false;
    }
    if (!arguments.isEmpty()) {
        if (!OpenDocument(arguments.front())) return false;
    } else {
        OnFileNew();
    }
    m_frame->show();

    // Our own decoder is built in and answers the check at once; the list of
    // the system's decoders is only gathered for the About box.
    if (!HasMpeg2Decoder()) {
        Prompts().Ask(LoadResString(ids::kAttention), LoadResString(ids::kNoDecoders),
                      PromptButtons::Ok, PromptIcon::Error);
        EndProgram();
    }
    return true;
}

bool CRaveloApp::OpenDocument(const QString& path) {
    if (m_busy || (m_view && m_view->IsJobRunning())) return false;
    m_busy = true;
    const bool opened = m_doc->OnOpenDocument(path);
    m_busy = false;
    if (opened) {
        CRecentFiles::Add(path);
    } else {
        CRecentFiles::Remove(QFileInfo(path).absoluteFilePath());
    }
    m_frame->RefreshRecentFiles();
    if (m_closePending) QTimer::singleShot(0, m_frame.get(), &QWidget::close);
    return opened;
}

void CRaveloApp::OnFileOpen() {
    QFileDialog dialog(m_frame.get(), QStringLiteral("Open"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setNameFilters(CMainFrame::OpenFilters());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    OpenDocument(dialog.selectedFiles().front());
}

void CRaveloApp::OnFileNew() {
    if (m_busy || m_view->IsJobRunning()) return;
    m_doc->OnNewDocument();
}

void CRaveloApp::OnSettings() {
    Prompts().RunSettingsDialog();
    CheckOutputFolder();
    m_view->ApplyDirectHelp(CPreferences::GetShowDirectHelp());
    ShowOutputFolder();
}

void CRaveloApp::ShowOutputFolder() {
    QString text;
    if (CPreferences::GetUseSourceAsOutputPath()) {
        text = QStringLiteral("Output: beside the recording");
    } else {
        const QString folder = QString::fromStdString(CPreferences::GetOutputPath());
        text = QStringLiteral("Output: ") + QDir::cleanPath(QDir(folder).absolutePath());
    }
    m_frame->ShowOutputFolder(text);
}

void CRaveloApp::OnAbout() {
    const QStringList decoders = ListMpeg2Decoders();
    if (decoders.isEmpty()) {
        Prompts().Ask(LoadResString(ids::kAttention), LoadResString(ids::kNoDecoders),
                      PromptButtons::Ok, PromptIcon::Error);
        EndProgram();
        return;
    }
    bool agreed;
    if (m_aboutRunner) {
        agreed = m_aboutRunner(decoders);
    } else {
        CDlgAbout dialog(decoders, m_frame.get());
        agreed = dialog.exec() == QDialog::Accepted;  // Escape counts as "I don't agree"
    }
    if (!agreed) EndProgram();
}

void CRaveloApp::EndProgram() {
    // Not an abrupt exit: the window closes, the cut list is stored, the
    // event loop ends.
    m_closePending = true;
    QTimer::singleShot(0, m_frame.get(), &QWidget::close);
    QTimer::singleShot(0, qApp, [this] {
        if (!m_frame->isVisible()) QCoreApplication::quit();
    });
}

bool CRaveloApp::CanClose() {
    if (m_busy || m_view->IsJobRunning()) {
        // A running job is cancelled first; the window closes when it has ended.
        m_progress->RequestCancel();
        m_closePending = true;
        return false;
    }
    m_progress->Close();
    m_doc->OnCloseDocument();
    return true;
}

void CRaveloApp::UpdateTitle() {
    m_frame->setWindowTitle(m_doc->Title() + QStringLiteral(" - ") +
                            QString::fromStdString(LoadResString(ids::kAppTitle)));
}

void CRaveloApp::InstallTerminationHandler() {
    // SIGTERM, SIGINT and SIGHUP close the window like "Exit".
    if (g_signalPipe[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0) return;
    m_termination = new QSocketNotifier(g_signalPipe[1], QSocketNotifier::Read, this);
    connect(m_termination, &QSocketNotifier::activated, this, [this] {
        char byte;
        [[maybe_unused]] ssize_t got = ::read(g_signalPipe[1], &byte, 1);
        if (m_busy || m_view->IsJobRunning()) m_progress->RequestCancel();
        EndProgram();
    });
    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    // A second signal ends the program at once (a modal dialog may be up).
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(sig, &action, nullptr);
}
