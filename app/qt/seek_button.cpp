#include "app/qt/seek_button.h"

#include <QKeyEvent>
#include <QMouseEvent>

CSeekButton::CSeekButton(const QString& text, int controlId, int repeatCount, int reserved,
                         int increment, int lowerBound, int upperBound, QWidget* parent)
    : CSXButton(text, controlId, parent),
      m_repeatCount(repeatCount),
      m_reserved(reserved),
      m_increment(increment),
      m_lowerBound(lowerBound),
      m_upperBound(upperBound) {
    (void)m_reserved;
    (void)m_lowerBound;
    (void)m_upperBound;
    // Single shot: the timer is re-armed only after the parent's step has run,
    // so slow steps never queue up.
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &CSeekButton::OnTimer);
}

void CSeekButton::SetTimings(int firstDelayMs, int repeatMs) {
    m_firstDelayMs = firstDelayMs;
    m_repeatMs = repeatMs;
}

void CSeekButton::mousePressEvent(QMouseEvent* event) {
    CSXButton::mousePressEvent(event);
    if (event->button() != Qt::LeftButton || !isEnabled()) return;
    m_repeatCount = 0;
    m_pressPoint = event->position().toPoint();
    m_pressed = true;
    emit SeekRequest(ControlId(), 0);
    if (m_pressed) m_timer.start(m_firstDelayMs);
}

void CSeekButton::OnTimer() {
    if (!m_pressed) return;
    m_timer.stop();
    emit SeekRequest(ControlId(), m_repeatCount);
    if (m_pressed) m_timer.start(m_repeatMs);
    m_repeatCount += m_increment;
}

void CSeekButton::mouseReleaseEvent(QMouseEvent* event) {
    Stop();
    CSXButton::mouseReleaseEvent(event);
}

void CSeekButton::mouseMoveEvent(QMouseEvent* event) {
    if (m_pressed) {
        QPoint q = event->position().toPoint();
        if (std::abs(m_pressPoint.x() - q.x()) > kMoveTolerance ||
            std::abs(m_pressPoint.y() - q.y()) > kMoveTolerance) {
            Stop();
        }
    }
    CSXButton::mouseMoveEvent(event);
}

namespace {
bool IsPressKey(const QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Space:
        case Qt::Key_Enter:
        case Qt::Key_Return:
        case Qt::Key_Select:
            return event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier;
        default:
            return false;
    }
}
}  // namespace

void CSeekButton::keyPressEvent(QKeyEvent* event) {
    if (!IsPressKey(event) || !isEnabled()) return CSXButton::keyPressEvent(event);
    event->accept();
    if (!event->isAutoRepeat()) {
        setDown(true);
        m_keyRepeatCount = 0;
        emit SeekRequest(ControlId(), 0);
        return;
    }
    emit SeekRequest(ControlId(), m_keyRepeatCount);
    m_keyRepeatCount += m_increment;
}

void CSeekButton::keyReleaseEvent(QKeyEvent* event) {
    if (!IsPressKey(event)) return CSXButton::keyReleaseEvent(event);
    event->accept();
    if (!event->isAutoRepeat()) setDown(false);
}

void CSeekButton::Stop() {
    m_timer.stop();
    m_pressed = false;
}

// A disabled or hidden button gets no release: it stops by itself.
void CSeekButton::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange && !isEnabled()) Stop();
    CSXButton::changeEvent(event);
}

void CSeekButton::hideEvent(QHideEvent* event) {
    Stop();
    CSXButton::hideEvent(event);
}
