#include "artwork.h"

#include <QPainter>
#include <QSvgRenderer>

namespace quorrin {

QPixmap renderArtwork(const QString &resource, QSize logicalSize, qreal devicePixelRatio)
{
    QPixmap pixmap(logicalSize * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QSvgRenderer renderer(resource);
    QPainter painter(&pixmap);
    renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(logicalSize)));
    return pixmap;
}

} // namespace quorrin
