// Renders an SVG drawing into a square PNG of the given size, for the icon theme's sizes:
// mb_render_icon DRAWING SIZE OUTPUT.
#include <QImage>
#include <QPainter>
#include <QString>
#include <QSvgRenderer>

#include <cstdio>

int main(int argc, char* argv[])
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: mb_render_icon DRAWING SIZE OUTPUT\n");
        return 2;
    }
    QSvgRenderer renderer(QString::fromLocal8Bit(argv[1]));
    bool number = false;
    const int size = QString::fromLocal8Bit(argv[2]).toInt(&number);
    if (!renderer.isValid() || !number || size <= 0) {
        std::fprintf(stderr, "mb_render_icon: cannot render %s at %s pixels\n", argv[1], argv[2]);
        return 1;
    }
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    renderer.render(&painter);
    painter.end();
    if (!image.save(QString::fromLocal8Bit(argv[3]), "PNG")) {
        std::fprintf(stderr, "mb_render_icon: cannot write %s\n", argv[3]);
        return 1;
    }
    return 0;
}
