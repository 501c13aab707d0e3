// The painter pass: pixels at the positions the fitting computes.
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <filesystem>

#include "hpgl_test_util.h"
#include "support/test_paths.h"

namespace benchcap::hpgl::test {
namespace {

TEST(HpglDraw, DiagonalFromCornerToCornerOfP1P2) {
    // The picture is exactly P1/P2 (plus its margin), so the line runs corner to corner.
    const Rendered r = rendered("IN;SP1;PU0,0;PD10300,7650;", {1030, 765});
    ASSERT_FALSE(r.image.isNull());
    for (double f : {0.02, 0.25, 0.5, 0.75, 0.98})
        EXPECT_GT(colourNear(r, QPointF(10300 * f, 7650 * f), kPenColours[1]), 0) << f;
    // Y axis up: the start is bottom left, the end top right.
    EXPECT_GT(r.map.map(QPointF(0, 0)).y(), 740);
    EXPECT_LT(r.map.map(QPointF(10300, 7650)).y(), 25);
    EXPECT_LT(r.map.map(QPointF(0, 0)).x(), 25);
    // Off the line stays paper.
    EXPECT_EQ(colourNear(r, QPointF(10300 * 0.75, 7650 * 0.25), kPenColours[1], 3), 0);
}

TEST(HpglDraw, EightPenColours) {
    std::string hpgl = "IN;";
    for (int pen = 1; pen <= 8; ++pen)
        hpgl += "SP" + std::to_string(pen) + ";PU1000," + std::to_string(pen * 800) + ";PD9000," +
                std::to_string(pen * 800) + ";";
    const Rendered r = rendered(hpgl, {800, 600});
    for (int pen = 1; pen <= 8; ++pen)
        EXPECT_GT(colourNear(r, QPointF(5000, pen * 800), kPenColours[static_cast<size_t>(pen)]), 0)
            << "pen " << pen;
}

TEST(HpglDraw, ScaledRelativeCircleAndArc) {
    // User scale 0..100 over P1/P2 = the default paper.
    const Rendered r = rendered(
        "IN;IP0,0,10000,7500;SC0,100,0,75;SP2;PU10,10;PR;PD30,0;PA;"  // red: 10..40 at y 10
        "SP5;PU70,40;CI20;"                                           // blue circle
        "SP3;PU50,60;PD;AA40,60,90;",                                 // green quarter arc
        {800, 600});
    auto at = [](double x, double y) { return QPointF(x * 100, y * 100); };
    EXPECT_GT(colourNear(r, at(25, 10), kPenColours[2]), 0);
    EXPECT_EQ(colourNear(r, at(45, 10), kPenColours[2], 2), 0);  // PR ended at 40
    for (QPointF p : {at(90, 40), at(50, 40), at(70, 60), at(70, 20)})
        EXPECT_GT(colourNear(r, p, kPenColours[5]), 0) << p.x() << "," << p.y();
    EXPECT_EQ(colourNear(r, at(70, 40), kPenColours[5], 3), 0);  // centre stays empty
    EXPECT_GT(colourNear(r, at(40, 70), kPenColours[3]), 0);     // the arc's end
}

TEST(HpglDraw, FillsAndHatching) {
    const Rendered r = rendered(
        "IN;SP2;PU1000,1000;RA4000,4000;"
        "SP5;FT3,100,0;PU5000,1000;RA8000,4000;",
        {1030, 765});
    EXPECT_EQ(colourNear(r, QPointF(2500, 2500), kPenColours[2], 5), 121);  // solid
    // Hatched: horizontal lines every 100 units, paper between them.
    const QPoint c = r.map.map(QPointF(6500, 2500)).toPoint();
    int blue = 0, white = 0;
    for (int y = c.y() - 30; y <= c.y() + 30; ++y) {
        const QRgb p = r.image.pixel(c.x(), y) | 0xFF000000u;
        blue += p == kPenColours[5];
        white += p == 0xFFFFFFFFu;
    }
    EXPECT_GT(blue, 3);
    EXPECT_GT(white, 30);
}

TEST(HpglDraw, PolygonWithHoleEvenOdd) {
    const Rendered r = rendered(
        "IN;SP3;PU0,0;PM0;PD4000,0,4000,4000,0,4000,0,0;PM1;PU1000,1000;"
        "PD3000,1000,3000,3000,1000,3000,1000,1000;PM2;FP;",
        {600, 600});
    EXPECT_GT(colourNear(r, QPointF(500, 2000), kPenColours[3], 2), 20);
    EXPECT_EQ(colourNear(r, QPointF(2000, 2000), kPenColours[3], 5), 0);  // the hole
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

TEST(HpglDraw, KeepsAspectRatioCentred) {
    // A square plot in a wide image: paper on both sides.
    const Rendered r = rendered("IP0,0,1000,1000;SP1;PU0,500;PD1000,500;", {800, 400});
    EXPECT_EQ(notWhite(r.image, QRect(0, 0, 180, 400)), 0);
    EXPECT_EQ(notWhite(r.image, QRect(620, 0, 180, 400)), 0);
    EXPECT_GT(notWhite(r.image, QRect(220, 190, 360, 20)), 300);
}

TEST(HpglDraw, ClipWindowCutsTheDrawingButNotAFrameOnItsEdge) {
    // Drivers draw the frame exactly on the window (IW); rounding must not cut it off.
    const Rendered r = rendered(
        "IN;SP1;IW2000,2000,17000,16000;PU2000,2000;EA17000,16000;"
        "PU0,0;PD20000,20000;PS20000,20000;",
        {768, 768});
    for (QPointF p : {QPointF(2000, 9000), QPointF(17000, 9000), QPointF(9000, 2000),
                      QPointF(9000, 16000), QPointF(5000, 5000)})
        EXPECT_GT(colourNear(r, p, kPenColours[1]), 0) << p.x() << "," << p.y();
    for (QPointF p : {QPointF(1000, 1000), QPointF(18500, 18500)})
        EXPECT_EQ(colourNear(r, p, kPenColours[1], 2), 0) << p.x() << "," << p.y();
}

TEST(HpglDraw, SamePlotDrawsIntoAPdf) {
    const Plot plot = parsed("SP2;PU0,0;PD10300,7650;SP1;PA1000,1000;LBPDF\x03");
    const std::filesystem::path file = benchcap::test::makeTempDir("hpgl") / "plot.pdf";
    {
        QPdfWriter pdf(QString::fromStdString(file.string()));
        pdf.setPageSize(QPageSize(QPageSize::A4));
        pdf.setPageOrientation(QPageLayout::Landscape);
        QPainter painter(&pdf);
        const QRectF target(QPointF(0, 0), QSizeF(pdf.width(), pdf.height()));
        EXPECT_TRUE(draw(painter, target, plot).empty());
    }
    const std::string bytes = benchcap::test::readFile(file);
    EXPECT_EQ(bytes.substr(0, 5), "%PDF-");
    EXPECT_GT(bytes.size(), 500u);
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
