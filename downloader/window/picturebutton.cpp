#include "picturebutton.h"

#include "artwork.h"

#include <QPainter>
#include <QStyleOptionFocusRect>

namespace quorrin::downloader {

PictureButton::PictureButton(const QString &resource, QSize pictureSize, QWidget *parent)
    : QAbstractButton(parent)
    , m_resource(resource)
    , m_pictureSize(pictureSize)
{
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_Hover);
}

void PictureButton::setFaceColor(const QColor &color)
{
    m_face = color;
    update();
}

QRect PictureButton::pictureRect() const
{
    const QRect face = rect().adjusted(1, 1, -1, -1);
    const QSize fitted = m_pictureSize.scaled(face.size(), Qt::KeepAspectRatio);
    QRect target(QPoint(0, 0), fitted);
    target.moveCenter(face.center());
    return target;
}

const QPixmap &PictureButton::picture()
{
    const QSize size = pictureRect().size();
    const qreal ratio = devicePixelRatioF();
    if (m_cache.deviceIndependentSize().toSize() != size || m_cache.devicePixelRatio() != ratio)
        m_cache = renderArtwork(m_resource, size, ratio);
    return m_cache;
}

void PictureButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QColor face = m_face.isValid() ? m_face : palette().color(QPalette::Button);
    const bool down = isDown();
    painter.fillRect(rect(), down ? face.darker(115) : face);
    painter.setPen(palette().color(underMouse() ? QPalette::Highlight : QPalette::Mid));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    painter.drawPixmap(pictureRect().translated(down ? QPoint(1, 1) : QPoint()), picture());
    if (hasFocus()) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = rect().adjusted(1, 1, -1, -1);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }
}

} // namespace quorrin::downloader
