#include "shell/qt/progress_wnd.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>

#include "res/strings.h"
#include "shell/log.h"
#include "shell/text.h"

namespace {
bool g_quitting = false;

QString CancelCaption() {
    return QStringLiteral(" %1 ").arg(QString::fromStdString(LoadResString(ids::kCancel)));
}

// The window itself: its close box acts like the button.
class ProgressWindow : public QWidget {
  public:
    explicit ProgressWindow(CProgressWnd& owner)
        : QWidget(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                               Qt::WindowCloseButtonHint),
          m_progress(owner) {}

  protected:
    void closeEvent(QCloseEvent* event) override {
        event->ignore();
        m_progress.OnButton();
    }
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Escape) {
            m_progress.OnButton();
            return;
        }
        QWidget::keyPressEvent(event);
    }

  private:
    CProgressWnd& m_progress;
};
}  // namespace

CProgressWnd::CProgressWnd() : m_title(QString::fromStdString(LoadResString(ids::kProgressTitle))) {
    SetLogListener([this](const std::string& text) { AddLine(text); });
}

CProgressWnd::~CProgressWnd() {
    SetLogListener(nullptr);
    Close();
}

void CProgressWnd::SetQuitting(bool quitting) {
    g_quitting = quitting;
}

bool CProgressWnd::Open(const std::string& title, bool smooth) {
    QWidget* owner = m_owner;
    if (!owner) owner = QApplication::activeWindow();
    if (owner == m_window.get()) owner = nullptr;
    m_owner = owner;
    if (m_owner) {
        // Disabling the owner takes the focus from its widgets: it is given
        // back when the window closes.
        QWidget* focus = QApplication::focusWidget();
        if (focus && (focus == m_owner || m_owner->isAncestorOf(focus))) m_ownerFocus = focus;
        m_owner->setEnabled(false);
    }
    if (!m_window && !Create(m_owner, title, smooth)) {
        if (m_owner) m_owner->setEnabled(true);
        return false;
    }
    m_title = QString::fromStdString(title);
    ShowCaption(m_title);
    m_shownTenths = -1;
    m_modal = true;
    m_visible = true;
    m_cancelled = false;
    m_finished = false;
    m_button->setText(CancelCaption());
    m_window->setEnabled(true);
    QApplication::setOverrideCursor(Qt::BusyCursor);
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
    m_button->setFocus();
    return true;
}

bool CProgressWnd::Create(QWidget* owner, const std::string& title, bool smooth) {
    m_window = std::make_unique<ProgressWindow>(*this);
    m_window->setObjectName(QStringLiteral("progressWindow"));
    m_window->setWindowModality(Qt::ApplicationModal);
    m_window->setFont(QApplication::font("QMessageBox"));
    m_text = new QLabel(m_window.get());
    m_text->setObjectName(QStringLiteral("progressText"));
    m_text->setTextFormat(Qt::PlainText);
    m_text->setWordWrap(false);
    m_text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_bar = new QProgressBar(m_window.get());
    m_bar->setObjectName(QStringLiteral("progressBar"));
    m_bar->setTextVisible(!smooth);
    m_bar->setRange(m_lower, m_upper);
    m_button = new QPushButton(CancelCaption(), m_window.get());
    m_button->setObjectName(QStringLiteral("progressButton"));
    m_button->setFocusPolicy(Qt::StrongFocus);
    QObject::connect(m_button, &QPushButton::clicked, [this] { OnButton(); });
    m_list = new QListWidget(m_window.get());
    m_list->setObjectName(QStringLiteral("progressList"));
    m_list->setSelectionMode(QAbstractItemView::NoSelection);
    m_list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_title = QString::fromStdString(title);
    m_window->setWindowTitle(m_title);
    SetLayout(m_lines, 390, false);
    if (owner) {
        QRect frame = owner->frameGeometry();
        m_window->move(frame.center() - QPoint(m_window->width() / 2, m_window->height() / 2));
    }
    m_finished = false;
    m_visible = true;
    return true;
}

void CProgressWnd::SetLayout(int lines, int width, bool showList) {
    m_showList = showList;
    m_lines = lines;
    m_width = width;
    if (!m_window) return;
    QFontMetrics metrics(m_window->font());
    const int e = std::max(1, m_window->style()->pixelMetric(QStyle::PM_DefaultFrameWidth));
    const int lineHeight = metrics.lineSpacing();
    const int textHeight = lines > 0 ? lines * lineHeight : 0;
    m_text->setGeometry(10, 10, width, textHeight);
    m_text->setVisible(lines > 0);
    const int buttonWidth =
        std::max(metrics.horizontalAdvance(CancelCaption() + QStringLiteral("  ")) + 4 * e,
                 metrics.horizontalAdvance(QStringLiteral("  OK  ")) + 4 * e);
    const int buttonHeight = lineHeight + 3 * e + 8;
    const int textRight = 10 + width;
    const int buttonTop = 10 + textHeight + 10;
    m_button->setGeometry(textRight - buttonWidth, buttonTop, buttonWidth, buttonHeight);
    const int barRight = textRight - buttonWidth - 10;
    m_bar->setGeometry(10, buttonTop + e, std::max(10, barRight - 10), buttonHeight - 2 * e);
    // The list runs from just below the bar to 150 pixels below it.
    const int barBottom = buttonTop + buttonHeight - e;
    int listSpace = 0;
    if (showList) {
        m_list->setGeometry(10, barBottom + 2 * e, width, 150 - e);
        m_list->show();
        listSpace = 150;
    } else {
        m_list->hide();
    }
    m_window->setFixedSize(width + 20, textHeight + buttonHeight + listSpace + 30);
}

void CProgressWnd::SetRange(int lower, int upper, int step) {
    m_lower = lower;
    m_upper = upper;
    m_step = step;
    if (m_bar) m_bar->setRange(lower, upper);
}

void CProgressWnd::SetText(const std::string& text) {
    if (m_text) m_text->setText(QString::fromStdString(ToWidgetText(text)));
}

int CProgressWnd::SetPos(int pos) {
    if (!m_window) return 0;
    if (!m_window->isVisible()) {
        m_window->show();
        m_visible = true;
    }
    // Tenths of a percent; wide arithmetic keeps large ranges from overflowing.
    long long tenths = 0;
    if (m_upper > m_lower)
        tenths = static_cast<long long>(pos) * 1000 /
                 (static_cast<long long>(m_upper) - static_cast<long long>(m_lower));
    tenths = std::clamp(tenths, 0LL, 1000LL);
    if (tenths != m_shownTenths) {
        m_shownTenths = static_cast<int>(tenths);
        ShowCaption(QString::fromStdString(
            FormatString("%s [%2.1f%%]", m_title.toStdString().c_str(), tenths / 10.0)));
    }
    const int previous = m_bar->value();
    m_bar->setValue(std::clamp(pos, m_bar->minimum(), m_bar->maximum()));
    m_pos = pos;
    return previous;
}

void CProgressWnd::AddLine(const std::string& text) {
    if (!m_window || !m_showList || !m_visible) return;
    const QString line = QString::fromStdString(ToWidgetText(text));
    m_list->addItem(line);
    m_list->setCurrentRow(m_list->count() - 1);
    m_list->scrollToBottom();
    FitLine(line);
}

void CProgressWnd::FitLine(const QString& line) {
    // A line that names a file with its whole path is read whole: the
    // window grows (within the screen) until the list shows it.
    const int needed = QFontMetrics(m_list->font()).horizontalAdvance(line) +
                       m_list->verticalScrollBar()->sizeHint().width() + 2 * m_list->frameWidth() +
                       12;
    int limit = needed;
    if (const QScreen* screen = m_window->screen()) limit = screen->availableSize().width() - 60;
    const int width = std::min(needed, limit);
    if (width <= m_width) return;
    const QPoint centre = m_window->geometry().center();
    SetLayout(m_lines, width, m_showList);
    m_window->move(centre.x() - m_window->width() / 2, m_window->y());
}

bool CProgressWnd::Pump() {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    return !g_quitting;
}

void CProgressWnd::Finish() {
    if (!m_window) return;
    m_button->setText(QStringLiteral("OK"));
    m_text->clear();
    const int position = m_bar->value();
    if (0.95 * m_upper < position) SetPos(m_upper);
    m_finished = true;
    QApplication::restoreOverrideCursor();
    QApplication::setOverrideCursor(Qt::ArrowCursor);
}

void CProgressWnd::OnButton() {
    if (!m_window) return;
    m_button->setText(CancelCaption());
    m_cancelled = !m_finished;
    if (m_finished) Close();
}

void CProgressWnd::Close() {
    if (!m_window) return;
    // Hidden first: a window manager refuses to activate the owner while a
    // modal window of the application is still shown, and the keys would
    // then go nowhere.
    m_window->hide();
    if (m_modal) {
        if (m_owner) {
            m_owner->setEnabled(true);
            m_owner->raise();
            m_owner->activateWindow();
            if (m_ownerFocus && m_ownerFocus->isEnabled())
                m_ownerFocus->setFocus(Qt::OtherFocusReason);
            else if (!m_owner->focusWidget())
                m_owner->setFocus(Qt::OtherFocusReason);
        }
        m_ownerFocus = nullptr;
        while (QApplication::overrideCursor())
            QApplication::restoreOverrideCursor();
        m_modal = false;
    }
    m_window.reset();
    m_text = nullptr;
    m_bar = nullptr;
    m_button = nullptr;
    m_list = nullptr;
    m_visible = false;
    m_showList = false;
    m_lines = 1;
}

void CProgressWnd::ShowCaption(const QString& caption) {
    if (m_window) m_window->setWindowTitle(caption);
}

QString CProgressWnd::Caption() const {
    return m_window ? m_window->windowTitle() : QString();
}
QString CProgressWnd::ButtonText() const {
    return m_button ? m_button->text() : QString();
}
int CProgressWnd::BarValue() const {
    return m_bar ? m_bar->value() : 0;
}
QStringList CProgressWnd::Lines() const {
    QStringList lines;
    if (m_list)
        for (int i = 0; i < m_list->count(); ++i)
            lines << m_list->item(i)->text();
    return lines;
}
