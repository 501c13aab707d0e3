#pragma once

#include <gtest/gtest.h>

#include <QImage>
#include <string>
#include <string_view>
#include <vector>

#include "hardcopy/hpgl/hpgl.h"
#include "support/fonts.h"
#include "support/skips.h"

namespace benchcap::hpgl::test {

// Parses `bytes`, failing the test when that is refused.
inline Plot parsed(std::string_view bytes) {
    Result<Plot> plot = parseHpgl(bytes);
    EXPECT_TRUE(plot.ok()) << plot.error();
    return plot ? std::move(plot).value() : Plot{};
}

// The plot on a white image, without antialiasing so that pen colours are exact.
struct Rendered {
    Plot plot;
    QImage image;
    QTransform map;  // plotter units to pixels
    std::vector<std::string> warnings;
};
inline Rendered rendered(std::string_view bytes, QSize size = {400, 300}) {
    Rendered r;
    r.plot = parsed(bytes);
    if (r.plot.pages.empty())
        return r;
    Result<QImage> image = renderPlot(r.plot, size, &r.warnings, {false, 0});
    EXPECT_TRUE(image.ok()) << image.error();
    if (image)
        r.image = *image;
    r.map = fitTransform(r.plot.pages[0].extent, QRectF(QPointF(0, 0), QSizeF(size)));
    return r;
}

inline int notWhite(const QImage& image, QRect area) {
    int n = 0;
    area = area.intersected(image.rect());
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += (image.pixel(x, y) | 0xFF000000u) != 0xFFFFFFFFu;
    return n;
}
using ::benchcap::test::haveFonts;
inline bool hasWarning(const std::vector<std::string>& warnings, std::string_view part) {
    for (const auto& w : warnings)
        if (w.find(part) != std::string::npos)
            return true;
    return false;
}

}  // namespace benchcap::hpgl::test
