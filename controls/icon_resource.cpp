#include "controls/icon_resource.h"

#include <QPainter>
#include <QSvgRenderer>

// The resources live in this static library; registering them here makes
// sure they are linked in and registered before the first look-up.
static void InitResources() {
    static const bool done = [] {
        Q_INIT_RESOURCE(ravelo);
        return true;
    }();
    (void)done;
}

QString IconResourcePath(int resourceId) {
    InitResources();
    return QStringLiteral(":/icons/%1.svg").arg(resourceId);
}

QIcon IconResource(int resourceId) {
    return QIcon(IconResourcePath(resourceId));
}

QPixmap PixmapResource(int resourceId, const QSize& size) {
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QSvgRenderer renderer(IconResourcePath(resourceId));
    if (renderer.isValid()) {
        QPainter painter(&pixmap);
        renderer.render(&painter);
    }
    return pixmap;
}
