#include "controls/range_slider.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionSlider>

CRangeSlider::CRangeSlider(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
    setMinimumHeight(34);
}

void CRangeSlider::SetSelection(qint64 start, qint64 end) {
    m_start = start;
    m_end = end;
    update();
}

void CRangeSlider::paintEvent(QPaintEvent* event) {
    QSlider::paintEvent(event);
    if (m_end <= m_start || maximum() <= minimum()) return;
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRect groove =
        style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
    const QRect handle =
        style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
    const int span = groove.width() - handle.width();
    auto x = [&](qint64 value) {
        const qint64 clamped = std::clamp<qint64>(value, minimum(), maximum());
        return groove.left() + handle.width() / 2 +
               QStyle::sliderPositionFromValue(minimum(), maximum(), static_cast<int>(clamped),
                                               span);
    };
    QPainter painter(this);
    const int top = groove.center().y() + 4;
    painter.fillRect(
        QRect(QPoint(x(m_start), top), QPoint(std::max(x(m_start) + 1, x(m_end)), top + 3)),
        QColor(0xd9, 0x3b, 0x36));
}
