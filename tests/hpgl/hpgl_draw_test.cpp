// The painter pass: pixels at the positions the fitting computes.
#include <QPainter>

#include "hpgl_test_util.h"
#include "support/golden.h"
#include "support/image_summary.h"

namespace benchcap::hpgl::test {
namespace {

// "WIDTHxHEIGHT BYTES": the plot drawn without antialiasing onto a white image, told by
// imageSummary().
std::string drawing(const std::string& input) {
    const size_t x = input.find('x'), space = input.find(' ');
    const QSize size(std::stoi(input.substr(0, x)), std::stoi(input.substr(x + 1, space - x - 1)));
    const Rendered r = rendered(input.substr(space + 1), size);
    std::string out = benchcap::test::imageSummary(r.image);
    for (const std::string& w : r.warnings)
        out += "warning: " + w + "\n";
    return out;
}

TEST(HpglDraw, PicturesAsExpected) {
    benchcap::test::checkGolden("golden/hpgl-drawings.txt", drawing);
}

TEST(HpglDraw, LabelsLandAtTheirPosition) {
    BENCHCAP_SKIP_UNLESS(haveFonts(), "no fonts installed");
    const Rendered r = rendered(
        "IN;SP1;SI0.5,0.7;PA1000,1000;LBHHHH\x03"
        "PU10000,7000;PD10000,7000;",
        {1030, 765});
    // Four cells of 200 units, 280 units high, from (1000,1000).
    const QRectF cell = r.map.mapRect(QRectF(1000, 1000, 4 * 300 - 100, 280));
    EXPECT_GT(notWhite(r.image, cell.toAlignedRect()), 50);
    // Nothing left of the label or under it.
    EXPECT_EQ(notWhite(r.image, r.map.mapRect(QRectF(200, 600, 700, 1000)).toAlignedRect()), 0);
    EXPECT_EQ(notWhite(r.image, r.map.mapRect(QRectF(1000, 400, 1200, 500)).toAlignedRect()), 0);
}

TEST(HpglDraw, DrawsIntoTheTargetOnly) {
    const Plot plot = parsed("SP1;PU0,0;PD10300,7650;PU0,7650;PD10300,0;");
    QImage image(400, 300, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    const QRectF target(100, 100, 200, 100);
    const std::vector<std::string> w = draw(painter, target, plot);
    painter.end();
    EXPECT_TRUE(w.empty());
    EXPECT_EQ(notWhite(image, QRect(0, 0, 400, 98)), 0);
    EXPECT_EQ(notWhite(image, QRect(0, 202, 400, 98)), 0);
    EXPECT_GT(notWhite(image, target.toRect()), 100);
    // A page that is not there: a warning, nothing drawn.
    QPainter again(&image);
    EXPECT_FALSE(draw(again, target, plot, {true, 3}).empty());
}

}  // namespace
}  // namespace benchcap::hpgl::test
