#include "controls/sx_button.h"

#include <QIcon>
#include <QKeyEvent>

#include "controls/icon_resource.h"

CSXButton::CSXButton(const QString& text, int controlId, QWidget* parent)
    : QPushButton(text, parent), m_controlId(controlId) {
    setObjectName(QStringLiteral("ctl%1").arg(controlId));
    setIconSize(QSize(16, 16));
    setAutoDefault(false);
    setFocusPolicy(Qt::TabFocus);
    // A light gradient face with a darker rim; pressed and disabled states
    // must be told apart at a glance.
    setStyleSheet(QStringLiteral(
        "CSXButton, CSeekButton { padding: 3px 8px; border: 1px solid #8a94a6;"
        " border-radius: 3px; background: qlineargradient(x1:0, y1:0, x2:0, y2:1,"
        " stop:0 #fbfcfe, stop:1 #dfe5ee); color: #1b2433; }"
        "CSXButton:hover, CSeekButton:hover { border-color: #3d6fb6;"
        " background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #ffffff, stop:1 #d3e2f6); }"
        "CSXButton:pressed, CSeekButton:pressed { background: #b9cde9; padding-top: 4px;"
        " padding-bottom: 2px; }"
        "CSXButton:disabled, CSeekButton:disabled { color: #9aa1ab; border-color: #c2c7cf;"
        " background: #eef0f3; }"));
}

void CSXButton::SetIconResource(int resourceId) {
    setIcon(IconResource(resourceId));
}

void CSXButton::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Enter || event->key() == Qt::Key_Return;
    if (enter && event->modifiers() == Qt::NoModifier) {
        if (!event->isAutoRepeat()) animateClick();
        event->accept();
        return;
    }
    QPushButton::keyPressEvent(event);
}
