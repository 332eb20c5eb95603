// Build-time tool: renders an SVG picture into a square PNG of the given size, for the
// desktop's icon theme, which wants bitmaps at fixed sizes beside the scalable picture.
//   rendericon <picture.svg> <size> <output.png>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>

int main(int argc, char *argv[])
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: rendericon <picture.svg> <size> <output.png>\n");
        return 2;
    }
    // No screen is needed to paint into an image; the platform only has to exist.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    const QString source = QString::fromLocal8Bit(argv[1]);
    const QString target = QString::fromLocal8Bit(argv[3]);
    bool sizeOk = false;
    const int size = QString::fromLocal8Bit(argv[2]).toInt(&sizeOk);
    if (!sizeOk || size < 1 || size > 1024) {
        std::fprintf(stderr, "rendericon: bad size '%s'\n", argv[2]);
        return 2;
    }

    QSvgRenderer renderer(source);
    if (!renderer.isValid()) {
        std::fprintf(stderr, "rendericon: cannot read %s\n", argv[1]);
        return 1;
    }
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter, QRectF(0, 0, size, size));
    }
    if (!image.save(target, "PNG")) {
        std::fprintf(stderr, "rendericon: cannot write %s\n", argv[3]);
        return 1;
    }
    return 0;
}
