#include "shell/qt/main_frame.h"

#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QStatusBar>
#include <QToolBar>
#include <QWhatsThis>

#include "controls/icon_resource.h"
#include "platform/settings_store.h"
#include "res/strings.h"
#include "shell/qt/recent_files.h"
#include "shell/settings_keys.h"

namespace {
// The size the window first opens at.
constexpr int kWidth = 1000;
constexpr int kHeight = 600;

// A status-bar prompt is the text before "\n"; the tool tip the text after it.
void SetPrompt(QAction* action, const QString& prompt) {
    const qsizetype split = prompt.indexOf('\n');
    action->setStatusTip(split < 0 ? prompt : prompt.left(split));
    if (split >= 0) action->setToolTip(prompt.mid(split + 1));
}
}  // namespace

QStringList CMainFrame::OpenFilters() {
    // Each entry: the display text, then the patterns (the dialog hides them
    // with HideNameFilterDetails). Upper-case patterns too: recordings copied
    // from FAT disks have upper-case names.
    auto entry = [](const QString& text, const QStringList& extensions) {
        QStringList patterns;
        for (const QString& ext : extensions)
            patterns << QStringLiteral("*.") + ext << QStringLiteral("*.") + ext.toUpper();
        return text + QStringLiteral(" (") + patterns.join(' ') + ')';
    };
    return {
        entry(QStringLiteral("Transport Stream (*.ts; *.tts; *.mts; *.raw; *.rec; *.vid; *.trp)"),
              {"ts", "tts", "mts", "raw", "rec", "vid", "trp"}),
        entry(QStringLiteral("Topfield Transport Stream (*.tts)"), {"tts"}),
        entry(QStringLiteral("Topfield Raw Stream (*.raw)"), {"raw"}),
        entry(QStringLiteral("Topfield PVR5000 Stream (*.rec)"), {"rec"}),
        entry(QStringLiteral("Micronik Transport Stream (*.mts)"), {"mts"}),
        entry(QStringLiteral("Humax Video Stream (*.vid)"), {"vid"}),
        entry(QStringLiteral("@skybox Transport Stream (*.trp)"), {"trp"}),
        QString::fromStdString(LoadResString(ids::kAllFilesFilter)) + QStringLiteral(" (*)"),
    };
}

CMainFrame::CMainFrame(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("mainFrame"));
    resize(kWidth, kHeight);
    setWindowIcon(IconResource(128));
    setAcceptDrops(true);
    CreateMenu();
    CreateToolBar();
    CreateStatusBar();
    RefreshRecentFiles();
}

void CMainFrame::CreateMenu() {
    m_fileMenu = menuBar()->addMenu(QStringLiteral("&File"));
    m_open = m_fileMenu->addAction(IconResource(57601), QStringLiteral("&Open...\tCtrl+O"));
    m_open->setObjectName(QStringLiteral("cmd57601"));
    m_open->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    SetPrompt(m_open, QStringLiteral("Opens existing document.\nOpen"));
    connect(m_open, &QAction::triggered, this, &CMainFrame::CommandOpen);
    m_fileMenu->addSeparator();
    m_recentEmpty = m_fileMenu->addAction(QStringLiteral("Letzte Datei"));
    m_recentEmpty->setEnabled(false);
    for (int i = 0; i < CRecentFiles::kSize; ++i) {
        QAction* action = m_fileMenu->addAction(QString());
        action->setObjectName(QStringLiteral("cmd%1").arg(57616 + i));
        action->setStatusTip(QStringLiteral("Opens the document"));
        connect(action, &QAction::triggered, this,
                [this, action] { emit CommandOpenFile(action->data().toString()); });
        m_recent << action;
    }
    m_fileMenu->addSeparator();
    m_exit = m_fileMenu->addAction(QStringLiteral("E&xit"));
    m_exit->setObjectName(QStringLiteral("cmd57665"));
    SetPrompt(m_exit, QStringLiteral("Closes the application and stores all data.\nExit"));
    connect(m_exit, &QAction::triggered, this, &QWidget::close);

    // Filled by the application with the cut editor's undo and redo.
    // Alt+E is "&End Cut" and Alt+D "&Delete cut-area": the menu takes Alt+I.
    m_editMenu = menuBar()->addMenu(QStringLiteral("Ed&it"));
    m_editMenu->menuAction()->setVisible(false);

    QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
    QAction* toolbar = view->addAction(QStringLiteral("&Toolbar"));
    toolbar->setObjectName(QStringLiteral("cmd59392"));
    toolbar->setCheckable(true);
    toolbar->setChecked(true);
    SetPrompt(toolbar, QStringLiteral("Blendet die Symbolleiste ein oder aus.\nSymbolleiste"));
    QAction* statusbar = view->addAction(QStringLiteral("&Statusbar"));
    statusbar->setObjectName(QStringLiteral("cmd59393"));
    statusbar->setCheckable(true);
    statusbar->setChecked(true);
    SetPrompt(statusbar, QStringLiteral("Blendet die Statusleiste ein oder aus.\nStatusleiste"));
    connect(statusbar, &QAction::toggled, this, [this](bool on) { statusBar()->setVisible(on); });
    view->addSeparator();
    m_settings = view->addAction(QStringLiteral("Settings..."));
    m_settings->setObjectName(QStringLiteral("cmd154"));
    connect(m_settings, &QAction::triggered, this, &CMainFrame::CommandSettings);
    connect(toolbar, &QAction::toggled, this, [this](bool on) {
        if (auto* bar = findChild<QToolBar*>(QStringLiteral("toolBar"))) bar->setVisible(on);
    });

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    m_help = help->addAction(QStringLiteral("&Help"));
    m_help->setObjectName(QStringLiteral("cmd57667"));
    m_help->setShortcut(QKeySequence(Qt::Key_F1));
    SetPrompt(m_help, QStringLiteral("Listet die Hilfethemen auf.\nHilfethemen"));
    m_help->setEnabled(false);  // there are no help topics
    help->addSeparator();
    m_about = help->addAction(IconResource(57664), QStringLiteral("&About Ravelo..."));
    m_about->setObjectName(QStringLiteral("cmd57664"));
    SetPrompt(m_about, QString::fromStdString(LoadResString(ids::kAboutMenuPrompt)));
    connect(m_about, &QAction::triggered, this, &CMainFrame::CommandAbout);

    // Accelerators without a menu entry: Ctrl+N (new) and Shift+F1 (context help).
    auto* newDocument = new QAction(this);
    newDocument->setObjectName(QStringLiteral("cmd57600"));
    newDocument->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    connect(newDocument, &QAction::triggered, this, &CMainFrame::CommandNew);
    addAction(newDocument);
}

void CMainFrame::CreateToolBar() {
    QToolBar* bar = addToolBar(QStringLiteral("Toolbar"));
    bar->setObjectName(QStringLiteral("toolBar"));
    bar->setMovable(true);  // the band's gripper
    bar->setIconSize(QSize(16, 16));
    bar->addAction(m_open);
    bar->addSeparator();
    QAction* print = bar->addAction(IconResource(57607), QStringLiteral("Print"));
    print->setObjectName(QStringLiteral("cmd57607"));
    print->setEnabled(false);  // nothing prints
    bar->addAction(m_about);
    QAction* contextHelp = QWhatsThis::createAction(this);
    contextHelp->setIcon(IconResource(57669));
    contextHelp->setObjectName(QStringLiteral("cmd57669"));
    contextHelp->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F1));
    bar->addAction(contextHelp);
}

void CMainFrame::CreateStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("statusBar"));
    // The idle prompt points to help only where there is help to get.
    auto idle = [this, bar] {
        if (m_help->isEnabled()) bar->showMessage(QStringLiteral("Press F1 to get help"));
    };
    idle();
    connect(bar, &QStatusBar::messageChanged, this, [idle](const QString& message) {
        if (message.isEmpty()) idle();
    });
    // No lock-key panes: Qt cannot read the lock keys' state on every
    // display server, and a pane that may be wrong is worse than none.
    m_outputPane = new QLabel(bar);
    m_outputPane->setObjectName(QStringLiteral("outputFolderPane"));
    m_outputPane->setTextInteractionFlags(Qt::TextSelectableByMouse);
    bar->addPermanentWidget(m_outputPane);
}

void CMainFrame::ShowOutputFolder(const QString& text) {
    m_outputPane->setText(text);
    m_outputPane->setToolTip(text);
}

QString CMainFrame::OutputFolderText() const {
    return m_outputPane->text();
}

void CMainFrame::SetEditActions(QAction* undo, QAction* redo) {
    m_editMenu->clear();
    undo->setObjectName(QStringLiteral("cmd57643"));
    undo->setShortcuts({QKeySequence::Undo, QKeySequence(Qt::ALT | Qt::Key_Backspace)});
    redo->setObjectName(QStringLiteral("cmd57644"));
    redo->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
    m_editMenu->addAction(undo);
    m_editMenu->addAction(redo);
    m_editMenu->menuAction()->setVisible(true);
}

void CMainFrame::RestoreGeometry() {
    const std::optional<std::string> stored =
        platform::Settings().GetString(keys::kWindow, keys::kGeometry);
    if (stored && restoreGeometry(QByteArray::fromBase64(QByteArray::fromStdString(*stored))))
        return;
    // What the form needs at this font, and not beyond the screen: at a
    // large font or scale the first size may not fit.
    QSize size = QSize(kWidth, kHeight).expandedTo(minimumSizeHint());
    if (const QScreen* screen = this->screen()) size = size.boundedTo(screen->availableSize());
    resize(size);
}

void CMainFrame::SaveGeometry() const {
    platform::Settings().SetString(keys::kWindow, keys::kGeometry,
                                   saveGeometry().toBase64().toStdString());
}

void CMainFrame::RefreshRecentFiles() {
    const QStringList files = CRecentFiles::Load();
    m_recentEmpty->setVisible(files.isEmpty());
    for (int i = 0; i < m_recent.size(); ++i) {
        QAction* action = m_recent[i];
        const bool used = i < files.size();
        action->setVisible(used);
        if (!used) continue;
        action->setData(files[i]);
        action->setText(
            QStringLiteral("&%1 %2").arg(i + 1).arg(QDir::toNativeSeparators(files[i])));
    }
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    if (m_closeGuard && !m_closeGuard()) {
        event->ignore();
        return;
    }
    SaveGeometry();
    event->accept();
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls() && event->mimeData()->urls().front().isLocalFile())
        event->acceptProposedAction();
}

void CMainFrame::dropEvent(QDropEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.isEmpty() || !urls.front().isLocalFile()) return;
    event->acceptProposedAction();
    emit CommandOpenFile(urls.front().toLocalFile());
}
