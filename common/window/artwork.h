#pragma once

#include <QPixmap>
#include <QSize>
#include <QString>

namespace quorrin {

// Draws an SVG resource at a logical size, sharp on screens of any density.
QPixmap renderArtwork(const QString &resource, QSize logicalSize, qreal devicePixelRatio = 1.0);

} // namespace quorrin
