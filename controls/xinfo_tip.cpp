#include "controls/xinfo_tip.h"

#include <QEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHelpEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>

namespace {
constexpr int kPadding = 8;
constexpr int kMarkSize = 16;
constexpr int kPointer = 10;  // height of the pointer below the balloon's top edge
}  // namespace

CXInfoTip::CXInfoTip(QWidget* owner) : QWidget(owner, Qt::ToolTip | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("infoTip"));
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    QFont font(QStringLiteral("Arial"));
    font.setPointSize(8);
    setFont(font);
    hide();
}

CXInfoTip::~CXInfoTip() {
    for (const auto& tool : m_watched)
        if (tool) tool->removeEventFilter(this);
}

void CXInfoTip::AddTool(QWidget* tool, const QString& text) {
    QString lines = text;
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (!m_tools.contains(tool)) {
        tool->installEventFilter(this);
        m_watched.append(tool);
    }
    m_tools.insert(tool, lines);
}

QString CXInfoTip::ToolText(const QWidget* tool) const {
    return m_tools.value(tool);
}

void CXInfoTip::ShowTip(QWidget* tool, const QPoint& globalPos) {
    auto it = m_tools.constFind(tool);
    if (it == m_tools.constEnd()) return;
    m_text = *it;
    QFontMetrics metrics(font());
    QRect textRect = metrics.boundingRect(QRect(0, 0, 600, 400), Qt::AlignLeft, m_text);
    QSize size(textRect.width() + 3 * kPadding + kMarkSize + 2,
               std::max(textRect.height(), kMarkSize) + 2 * kPadding + kPointer + 2);
    resize(size);
    QPoint pos = globalPos + QPoint(-16, 18);
    if (QScreen* screen = QGuiApplication::screenAt(globalPos)) {
        QRect area = screen->availableGeometry();
        pos.setX(std::clamp(pos.x(), area.left(), std::max(area.left(), area.right() - width())));
        pos.setY(std::clamp(pos.y(), area.top(), std::max(area.top(), area.bottom() - height())));
    }
    move(pos);
    show();
    update();
}

void CXInfoTip::HideTip() {
    hide();
}

bool CXInfoTip::eventFilter(QObject* watched, QEvent* event) {
    auto* tool = qobject_cast<QWidget*>(watched);
    if (tool && m_tools.contains(tool)) {
        switch (event->type()) {
            case QEvent::ToolTip:
                ShowTip(tool, static_cast<QHelpEvent*>(event)->globalPos());
                return true;
            case QEvent::Leave:
            case QEvent::MouseButtonPress:
            case QEvent::KeyPress:
            case QEvent::Hide:
                HideTip();
                break;
            default:
                break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void CXInfoTip::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QRectF body = QRectF(rect()).adjusted(0.5, kPointer + 0.5, -0.5, -0.5);
    QPainterPath path;
    path.addRoundedRect(body, 7, 7);
    QPainterPath pointer;
    pointer.moveTo(10, body.top() + 1);
    pointer.lineTo(16, 0.5);
    pointer.lineTo(24, body.top() + 1);
    pointer.closeSubpath();
    path = path.united(pointer);
    painter.setPen(QPen(QColor(0x5a, 0x64, 0x78), 1));
    painter.setBrush(QColor(0xff, 0xfd, 0xe7));
    painter.drawPath(path);

    // The information mark: a blue disc with a white "i".
    QRectF mark(kPadding, body.top() + kPadding, kMarkSize, kMarkSize);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x2f, 0x6f, 0xc6));
    painter.drawEllipse(mark);
    painter.setPen(Qt::white);
    QFont bold = font();
    bold.setBold(true);
    painter.setFont(bold);
    painter.drawText(mark, Qt::AlignCenter, QStringLiteral("i"));

    painter.setFont(font());
    painter.setPen(QColor(0x1b, 0x24, 0x33));
    QRectF text(2 * kPadding + kMarkSize, body.top() + kPadding, body.width(), body.height());
    painter.drawText(text, Qt::AlignLeft | Qt::AlignTop, m_text);
}
