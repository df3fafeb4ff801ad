#pragma once
// Icons and pictures by resource id, drawn as SVG in the program's resources.

#include <QIcon>
#include <QPixmap>

QString IconResourcePath(int resourceId);  // ":/icons/<id>.svg"
QIcon IconResource(int resourceId);
// The SVG rendered at a given size (placeholder pictures, dialog bitmaps).
QPixmap PixmapResource(int resourceId, const QSize& size);
