#pragma once

#include <QAbstractButton>
#include <QIcon>
#include <QSize>

namespace quorrin::downloader {

// A button whose face is a picture and no caption. The picture keeps its proportions and
// is fitted into the button, so the words drawn in it stay whole.
class PictureButton : public QAbstractButton {
    Q_OBJECT
public:
    PictureButton(const QString &resource, QSize pictureSize, QWidget *parent = nullptr);

    // The face colour behind the picture; the palette's button colour by default.
    void setFaceColor(const QColor &color);

    QSize sizeHint() const override { return m_pictureSize; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QIcon m_picture; // drawn at any size and pixel density by the SVG icon engine
    QSize m_pictureSize;
    QColor m_face;
};

} // namespace quorrin::downloader
