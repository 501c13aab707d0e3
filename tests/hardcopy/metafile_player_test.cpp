// Writer -> player round trips: what the writer records is drawn where and how the
// metafile says, under every mapping, and damaged records do not stop the picture.
#include <gtest/gtest.h>

#include "hardcopy/picture/wmf_writer.h"
#include "picture_test_util.h"

namespace benchcap::picture {
namespace {

using test::countIn;
using test::play;
using wmf::rgb;

constexpr QRgb kRed = qRgb(255, 0, 0);
constexpr QRgb kBlue = qRgb(0, 0, 255);
constexpr QRgb kWhite = qRgb(255, 255, 255);

// Two pixels wide at 2x scale (pen width 1 logical unit is one pixel there).
QRgb at(const QImage& image, int x, int y) {
    return image.pixel(x, y) | 0xFF000000u;
}

TEST(MetafilePlayer, LinesAndFillsLandWhereTheFileSays) {
    wmf::Writer w(100, 100);
    w.pen(wmf::PS_SOLID, 0, rgb(255, 0, 0));
    w.line(10, 50, 90, 50);
    w.nullPen();
    w.brush(rgb(0, 0, 255));
    w.rectangle(20, 10, 40, 30);
    PlayResult result;
    const QImage image = play(w.finish(), QSize(200, 200), &result);
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_TRUE(result.warnings.empty());
    EXPECT_EQ(at(image, 100, 100), kRed);
    EXPECT_EQ(at(image, 100, 90), kWhite);
    EXPECT_EQ(at(image, 10, 100), kWhite);  // the line starts at x = 20 on the image
    EXPECT_EQ(at(image, 60, 40), kBlue);
    EXPECT_EQ(at(image, 90, 40), kWhite);
}

TEST(MetafilePlayer, NegativeWindowExtentFlipsTheYAxis) {
    wmf::Writer w(100, 100);
    w.setWindowOrg(0, 100);
    w.setWindowExt(100, -100);  // y grows upwards from the bottom edge
    w.nullPen();
    w.brush(rgb(255, 0, 0));
    w.rectangle(0, 0, 20, 20);
    const QImage image = play(w.finish(), QSize(200, 200));
    EXPECT_EQ(at(image, 20, 180), kRed);
    EXPECT_EQ(at(image, 20, 20), kWhite);
}

TEST(MetafilePlayer, MappingModes) {
    // Isotropic: window 200 x 100 on a 100 x 100 picture keeps units square (0.5 each).
    {
        wmf::Writer w(100, 100);
        w.setMapMode(wmf::MM_ISOTROPIC);
        w.setWindowExt(200, 100);
        w.nullPen();
        w.brush(rgb(255, 0, 0));
        w.rectangle(0, 150, 40, 190);
        const QImage image = play(w.finish(), QSize(200, 200));
        EXPECT_EQ(at(image, 20, 170), kRed);
        EXPECT_EQ(at(image, 20, 120), kWhite);
    }
    // Anisotropic: the same rectangle lies below the picture.
    {
        wmf::Writer w(100, 100);
        w.setWindowExt(200, 100);
        w.nullPen();
        w.brush(rgb(255, 0, 0));
        w.rectangle(0, 150, 40, 190);
        const QImage image = play(w.finish(), QSize(200, 200));
        EXPECT_EQ(test::countNot(image, kWhite), 0);
    }
    // Metric: 0.1 mm units with y upwards, on a picture 100 mm square.
    {
        wmf::Writer w(1000, 1000, 254);
        w.setMapMode(wmf::MM_LOMETRIC);
        w.nullPen();
        w.brush(rgb(0, 0, 255));
        w.rectangle(100, -100, 300, -300);
        const QImage image = play(w.finish(), QSize(200, 200));
        EXPECT_EQ(at(image, 40, 40), kBlue);
        EXPECT_EQ(at(image, 80, 80), kWhite);
    }
    // MM_TEXT: one unit per reference unit whatever the window extent says.
    {
        wmf::Writer w(100, 100);
        w.setMapMode(wmf::MM_TEXT);
        w.setWindowExt(1000, 1000);
        w.nullPen();
        w.brush(rgb(0, 0, 255));
        w.rectangle(50, 50, 100, 100);
        const QImage image = play(w.finish(), QSize(200, 200));
        EXPECT_EQ(at(image, 150, 150), kBlue);
        EXPECT_EQ(at(image, 50, 50), kWhite);
    }
}

TEST(MetafilePlayer, ZeroWindowExtentIsIgnored) {
    wmf::Writer w(100, 100);
    w.setWindowExt(0, 0);
    w.pen(wmf::PS_SOLID, 0, rgb(255, 0, 0));
    w.line(0, 50, 100, 50);
    const QImage image = play(w.finish(), QSize(100, 100));
    EXPECT_EQ(at(image, 50, 50), kRed);
}

TEST(MetafilePlayer, RestoreDcBringsBackThePen) {
    wmf::Writer w(100, 100);
    const auto red = w.createPen(wmf::PS_SOLID, 0, rgb(255, 0, 0));
    const auto blue = w.createPen(wmf::PS_SOLID, 0, rgb(0, 0, 255));
    w.select(red);
    w.saveDC();
    w.select(blue);
    w.saveDC();
    w.line(0, 10, 100, 10);  // blue
    w.restoreDC(-2);         // back to the state before the first save
    w.line(0, 20, 100, 20);  // red
    w.restoreDC(-1);         // nothing saved any more: ignored
    w.line(0, 30, 100, 30);  // still red
    w.saveDC();
    w.select(blue);
    w.restoreDC(1);  // absolute level 1
    w.line(0, 40, 100, 40);
    const QImage image = play(w.finish(), QSize(100, 100));
    EXPECT_EQ(at(image, 50, 10), kBlue);
    EXPECT_EQ(at(image, 50, 20), kRed);
    EXPECT_EQ(at(image, 50, 30), kRed);
    EXPECT_EQ(at(image, 50, 40), kRed);
}

TEST(MetafilePlayer, Rop2AndClipping) {
    wmf::Writer w(100, 100);
    w.nullPen();
    w.brush(rgb(0, 0, 255));
    w.rop2(wmf::R2_NOP);
    w.rectangle(0, 0, 100, 50);  // not drawn
    w.rop2(wmf::R2_COPYPEN);
    // IntersectClipRect(bottom, right, top, left): only the left half stays drawable.
    w.record(wmf::META_INTERSECTCLIPRECT, {100, 50, 50, 0});
    w.rectangle(0, 50, 100, 100);
    const QImage image = play(w.finish(), QSize(100, 100));
    EXPECT_EQ(countIn(image, QRect(0, 0, 100, 50), kWhite), 100 * 50);
    EXPECT_EQ(at(image, 25, 75), kBlue);
    EXPECT_EQ(at(image, 75, 75), kWhite);
}

TEST(MetafilePlayer, PlainHeaderPlaysLikePlaceable) {
    wmf::Writer w(100, 100);
    w.nullPen();
    w.brush(rgb(255, 0, 0));
    w.rectangle(50, 50, 100, 100);
    const std::string placeable = w.finish();
    const std::string plain = placeable.substr(22);
    const QImage a = play(placeable, QSize(100, 100));
    const QImage b = play(plain, QSize(100, 100));
    EXPECT_EQ(a, b);
    EXPECT_EQ(at(b, 75, 75), kRed);
}

TEST(MetafilePlayer, LongPolylinesAreSplitAndDrawnWhole) {
    wmf::Writer w(1000, 100);
    w.pen(wmf::PS_SOLID, 0, rgb(255, 0, 0));
    std::vector<wmf::Point> trace;
    for (int i = 0; i < 40000; ++i)
        trace.push_back({i / 40, 50});
    w.polyline(trace);
    const QImage image = play(w.finish(), QSize(1000, 100));
    EXPECT_EQ(at(image, 10, 50), kRed);
    EXPECT_EQ(at(image, 990, 50), kRed);
}

TEST(MetafilePlayer, DamagedRecordsDoNotStopThePicture) {
    wmf::Writer w(100, 100);
    w.record(wmf::META_SELECTOBJECT, {999});
    w.record(wmf::META_DELETEOBJECT, {999});
    w.record(wmf::META_RESTOREDC, {static_cast<uint16_t>(-100)});
    w.record(wmf::META_POLYPOLYGON, {3, 30000, 2});
    w.record(wmf::META_POLYLINE, {30000, 1, 1});
    w.record(wmf::META_POLYGON, {});  // no count at all (found by fuzzing)
    w.record(wmf::META_TEXTOUT, {5000, 0x4141});
    w.record(wmf::META_EXTTEXTOUT, {0, 0, 4000, wmf::ETO_CLIPPED});
    w.record(wmf::META_STRETCHDIB,
             {0x20, 0xCC, 0, 10, 10, 0, 0, 10, 10, 0, 0, 40, 0, 0xFFFF, 0x7FFF});
    w.record(wmf::META_CREATEREGION, {0, 6, 0, 0, 100, 60000, 5});
    w.record(wmf::META_DELETEOBJECT, {0});  // the writer does not know of the raw region
    w.record(wmf::META_SCALEWINDOWEXT, {0, 1, 0, 1});
    w.pen(wmf::PS_SOLID, 0, rgb(255, 0, 0));
    w.line(0, 50, 100, 50);
    PlayResult result;
    const QImage image = play(w.finish(), QSize(100, 100), &result);
    ASSERT_TRUE(result.ok);
    EXPECT_FALSE(result.warnings.empty());
    EXPECT_EQ(at(image, 50, 50), kRed);
}

TEST(MetafilePlayer, StretchDibDrawsBottomUpRows) {
    // 2 x 2 pixels, 24 bits, bottom row first: bottom = red, white; top = blue, white.
    std::vector<uint16_t> params{0x0020, 0x00CC, 0, 2, 2, 0, 0, 100, 100, 0, 0};
    const uint16_t header[20] = {40, 0, 2, 0, 2, 0, 1, 24, 0, 0, 16, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    params.insert(params.end(), std::begin(header), std::end(header));
    const uint8_t rows[16] = {0, 0, 255, 255, 255, 255, 0, 0, 255, 0, 0, 255, 255, 255, 0, 0};
    for (int i = 0; i < 16; i += 2)
        params.push_back(static_cast<uint16_t>(rows[i] | (rows[i + 1] << 8)));
    wmf::Writer w(100, 100);
    w.record(wmf::META_STRETCHDIB, params);
    PlayResult result;
    const QImage image = play(w.finish(), QSize(100, 100), &result);
    EXPECT_TRUE(result.warnings.empty()) << result.warnings.front();
    EXPECT_EQ(at(image, 25, 75), kRed);
    EXPECT_EQ(at(image, 25, 25), kBlue);
    EXPECT_EQ(at(image, 75, 25), kWhite);
}

TEST(MetafilePlayer, TextIsDrawnAtItsReferencePoint) {
    if (!test::haveFonts())
        GTEST_SKIP() << "no fonts installed";
    wmf::Writer w(200, 100);
    w.font(20, wmf::FW_BOLD);
    w.bkMode(wmf::TRANSPARENT);
    w.text(10, 10, "HHHH");  // top-left reference point
    w.textAlign(wmf::TA_RIGHT | wmf::TA_BASELINE);
    w.text(190, 90, "HHHH");  // ends at x 190, stands on y 90
    const QImage image = play(w.finish(), QSize(200, 100));
    EXPECT_GT(test::darkIn(image, QRect(10, 10, 60, 20)), 40);
    EXPECT_EQ(test::darkIn(image, QRect(0, 0, 200, 9)), 0);
    EXPECT_GT(test::darkIn(image, QRect(130, 70, 60, 20)), 40);
    EXPECT_EQ(test::darkIn(image, QRect(192, 40, 8, 60)), 0);
    EXPECT_EQ(test::darkIn(image, QRect(100, 92, 100, 8)), 0);
}

TEST(MetafilePlayer, OpaqueTextFillsItsBackground) {
    if (!test::haveFonts())
        GTEST_SKIP() << "no fonts installed";
    wmf::Writer w(200, 100);
    w.font(20);
    w.bkMode(wmf::OPAQUE);
    w.bkColor(rgb(0, 255, 0));
    w.textColor(rgb(255, 0, 0));
    w.text(10, 10, "Ref -10 dBm");
    const QImage image = play(w.finish(), QSize(200, 100));
    EXPECT_GT(countIn(image, QRect(10, 10, 80, 20), qRgb(0, 255, 0)), 200);
    EXPECT_GT(countIn(image, QRect(10, 10, 80, 20), kRed), 20);
}

}  // namespace
}  // namespace benchcap::picture
