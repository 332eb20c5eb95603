#include "picturebutton.h"

#include <QPainter>
#include <QStyleOptionFocusRect>

namespace quorrin::downloader {

PictureButton::PictureButton(const QString &resource, QSize pictureSize, QWidget *parent)
    : QAbstractButton(parent)
    , m_picture(resource)
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

void PictureButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QColor face = m_face.isValid() ? m_face : palette().color(QPalette::Button);
    const bool down = isDown();
    painter.fillRect(rect(), down ? face.darker(115) : face);
    painter.setPen(palette().color(underMouse() ? QPalette::Highlight : QPalette::Mid));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    // Fitted into the face, proportions kept, so the words drawn in it stay whole.
    m_picture.paint(&painter,
                    rect().adjusted(1, 1, -1, -1).translated(down ? QPoint(1, 1) : QPoint()));
    if (hasFocus()) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = rect().adjusted(1, 1, -1, -1);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }
}

} // namespace quorrin::downloader
