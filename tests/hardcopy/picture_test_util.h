#pragma once

#include <QImage>
#include <QPainter>
#include <QSize>
#include <string>

#include "hardcopy/picture/metafile_player.h"
#include "support/fonts.h"
#include "support/skips.h"

namespace benchcap::picture::test {

// Plays `bytes` onto a white image of `size`, without antialiasing so that pixel
// colours are exact. `result` (when given) receives the play result.
inline QImage play(const std::string& bytes, QSize size, PlayResult* result = nullptr) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    PlayResult r = playMetafile(painter, QRectF(QPointF(0, 0), QSizeF(size)), bytes, {false});
    painter.end();
    if (result)
        *result = r;
    return image;
}

// Pixels inside `area` (alpha ignored) for which `test` holds.
template <typename Test>
int count(const QImage& image, const QRect& area, Test test) {
    int n = 0;
    const QRect r = area.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y) {
        for (int x = r.left(); x <= r.right(); ++x)
            n += test(image.pixel(x, y) | 0xFF000000u);
    }
    return n;
}
inline int countNot(const QImage& image, QRgb background) {
    return count(image, image.rect(), [&](QRgb p) { return p != (background | 0xFF000000u); });
}
inline int countIn(const QImage& image, const QRect& area, QRgb colour) {
    return count(image, area, [&](QRgb p) { return p == (colour | 0xFF000000u); });
}
// Pixels darker than mid-grey.
inline int darkIn(const QImage& image, const QRect& area) {
    return count(image, area, [](QRgb p) { return qGray(p) < 128; });
}
using ::benchcap::test::haveFonts;

}  // namespace benchcap::picture::test
