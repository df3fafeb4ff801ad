#include "controls/sx_frame.h"

CSxFrame::CSxFrame(const QString& title, int controlId, QWidget* parent)
    : QGroupBox(title, parent) {
    setObjectName(QStringLiteral("ctl%1").arg(controlId));
    setStyleSheet(
        QStringLiteral("CSxFrame { border: 1px solid #a9b3c2; border-radius: 5px; margin-top: 9px;"
                       " padding: 6px 4px 4px 4px; }"
                       "CSxFrame::title { subcontrol-origin: margin; left: 10px; padding: 0 4px;"
                       " color: #234a86; font-weight: bold; }"));
}
