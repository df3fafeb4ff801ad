#include "controls/picture_view.h"

#include <QPainter>
#include <QSvgRenderer>
#include <cmath>

#include "controls/icon_resource.h"

namespace {
const QColor kBackground(0x20, 0x24, 0x2b);
}

CPictureView::CPictureView(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CPictureView::SetSizes(const QSize& hint, const QSize& minimum) {
    m_hint = hint;
    m_minimum = minimum;
    updateGeometry();
}

void CPictureView::SetPicture(const QImage& image, double displayAspect) {
    m_image = image;
    m_placeholder = 0;
    m_aspect = displayAspect > 0 ? displayAspect : 4.0 / 3.0;
    update();
}

void CPictureView::SetPlaceholder(int resourceId, double displayAspect) {
    m_image = QImage();
    m_placeholder = resourceId;
    m_aspect = displayAspect > 0 ? displayAspect : 4.0 / 3.0;
    update();
}

void CPictureView::Clear() {
    m_image = QImage();
    m_placeholder = 0;
    update();
}

QRect CPictureView::PictureRect() const {
    const QRect area = rect();
    if (area.isEmpty()) return {};
    int width = area.width();
    int height = static_cast<int>(std::lround(width / m_aspect));
    if (height > area.height()) {
        height = area.height();
        width = static_cast<int>(std::lround(height * m_aspect));
    }
    QRect target(0, 0, width, height);
    target.moveCenter(area.center());
    return target;
}

QSize CPictureView::sizeHint() const {
    return m_hint;
}

QSize CPictureView::minimumSizeHint() const {
    return m_minimum;
}

void CPictureView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), kBackground);
    const QRect target = PictureRect();
    if (!m_image.isNull()) {
        // The painter works in device pixels underneath: on a 2x screen the
        // picture is scaled to twice the rectangle's logical size.
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(target, m_image);
    } else if (m_placeholder != 0) {
        QSvgRenderer renderer(IconResourcePath(m_placeholder));
        if (renderer.isValid()) renderer.render(&painter, target);
    }
}
