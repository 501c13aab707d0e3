#include "picture_test_util.h"

#include <QFontDatabase>
#include <QPainter>

namespace benchcap::picture::test {

QImage play(const std::string& bytes, QSize size, PlayResult* result) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    PlayResult r = playMetafile(painter, QRectF(QPointF(0, 0), QSizeF(size)), bytes, {false});
    painter.end();
    if (result)
        *result = r;
    return image;
}

int countNot(const QImage& image, QRgb background) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            n += (image.pixel(x, y) | 0xFF000000u) != (background | 0xFF000000u);
    }
    return n;
}

int countIn(const QImage& image, const QRect& area, QRgb colour) {
    int n = 0;
    const QRect r = area.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y) {
        for (int x = r.left(); x <= r.right(); ++x)
            n += (image.pixel(x, y) | 0xFF000000u) == (colour | 0xFF000000u);
    }
    return n;
}

int darkIn(const QImage& image, const QRect& area) {
    int n = 0;
    const QRect r = area.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y) {
        for (int x = r.left(); x <= r.right(); ++x)
            n += qGray(image.pixel(x, y)) < 128;
    }
    return n;
}

bool haveFonts() {
    return !QFontDatabase::families().isEmpty();
}

}  // namespace benchcap::picture::test
