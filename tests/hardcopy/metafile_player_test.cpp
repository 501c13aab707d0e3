// Writer -> player round trips: what the writer records is drawn where and how the
// metafile says, under every mapping, and damaged records do not stop the picture.
#include <gtest/gtest.h>

#include "hardcopy/picture/wmf_writer.h"
#include "picture_test_util.h"

namespace benchcap::picture {
namespace {

using test::play;
using wmf::rgb;

constexpr QRgb kRed = qRgb(255, 0, 0);
constexpr QRgb kBlue = qRgb(0, 0, 255);
constexpr QRgb kWhite = qRgb(255, 255, 255);

QRgb at(const QImage& image, int x, int y) {
    return image.pixel(x, y) | 0xFF000000u;
}

// A filled rectangle without outline.
void fill(wmf::Writer& w, uint32_t colour, int l, int t, int r, int b) {
    w.nullPen();
    w.brush(colour);
    w.rectangle(l, t, r, b);
}

struct Probe {
    int x, y;
    QRgb colour;
};

// Plays what `w` recorded onto `size` and checks the colours at `probes`.
void expectPixels(const char* what, wmf::Writer& w, QSize size, std::vector<Probe> probes) {
    PlayResult result;
    const QImage image = play(w.finish(), size, &result);
    ASSERT_TRUE(result.status.ok()) << what << ": " << result.status.error();
    EXPECT_TRUE(result.warnings.empty()) << what;
    for (const Probe& p : probes)
        EXPECT_EQ(at(image, p.x, p.y), p.colour) << what << " at " << p.x << "," << p.y;
}

TEST(MetafilePlayer, DrawingLandsWhereTheFileSays) {
    {
        wmf::Writer w(100, 100);
        w.pen(wmf::PS_SOLID, 0, rgb(255, 0, 0));
        w.line(10, 50, 90, 50);
        fill(w, rgb(0, 0, 255), 20, 10, 40, 30);
        expectPixels("line and fill at 2x", w, {200, 200},
                     {{100, 100, kRed},
                      {100, 90, kWhite},
                      {10, 100, kWhite},
                      {60, 40, kBlue},
                      {90, 40, kWhite}});
    }
    {
        wmf::Writer w(1000, 100);
        w.pen(wmf::PS_SOLID, 0, rgb(255, 0, 0));
        std::vector<wmf::Point> trace;
        for (int i = 0; i < 40000; ++i)
            trace.push_back({i / 40, 50});
        w.polyline(trace);
        expectPixels("long polylines are split and drawn whole", w, {1000, 100},
                     {{10, 50, kRed}, {990, 50, kRed}});
    }
    {
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
        expectPixels("RestoreDC brings back the pen", w, {100, 100},
                     {{50, 10, kBlue}, {50, 20, kRed}, {50, 30, kRed}, {50, 40, kRed}});
    }
    {
        wmf::Writer w(100, 100);
        w.rop2(wmf::R2_NOP);
        fill(w, rgb(0, 0, 255), 0, 0, 100, 50);  // not drawn
        w.rop2(wmf::R2_COPYPEN);
        // (bottom, right, top, left): only the left half stays drawable.
        w.record(wmf::META_INTERSECTCLIPRECT, {100, 50, 50, 0});
        fill(w, rgb(0, 0, 255), 0, 50, 100, 100);
        expectPixels("R2_NOP and IntersectClipRect", w, {100, 100},
                     {{25, 25, kWhite}, {75, 25, kWhite}, {25, 75, kBlue}, {75, 75, kWhite}});
    }
}

TEST(MetafilePlayer, MappingModes) {
    {
        wmf::Writer w(100, 100);
        w.setWindowOrg(0, 100);
        w.setWindowExt(100, -100);
        fill(w, rgb(255, 0, 0), 0, 0, 20, 20);
        expectPixels("negative window extent flips y", w, {200, 200},
                     {{20, 180, kRed}, {20, 20, kWhite}});
    }
    {
        wmf::Writer w(100, 100);
        w.setMapMode(wmf::MM_ISOTROPIC);
        w.setWindowExt(200, 100);
        fill(w, rgb(255, 0, 0), 0, 150, 40, 190);
        expectPixels("isotropic keeps units square", w, {200, 200},
                     {{20, 170, kRed}, {20, 120, kWhite}});
    }
    {
        wmf::Writer w(1000, 1000, 254);
        w.setMapMode(wmf::MM_LOMETRIC);
        fill(w, rgb(0, 0, 255), 100, -100, 300, -300);
        expectPixels("metric 0.1 mm with y upwards", w, {200, 200},
                     {{40, 40, kBlue}, {80, 80, kWhite}});
    }
    {
        wmf::Writer w(100, 100);
        w.setMapMode(wmf::MM_TEXT);
        w.setWindowExt(1000, 1000);
        fill(w, rgb(0, 0, 255), 50, 50, 100, 100);
        expectPixels("MM_TEXT ignores the window extent", w, {200, 200},
                     {{150, 150, kBlue}, {50, 50, kWhite}});
    }
    {
        wmf::Writer w(100, 100);
        w.setWindowExt(0, 0);
        w.pen(wmf::PS_SOLID, 0, rgb(255, 0, 0));
        w.line(0, 50, 100, 50);
        expectPixels("zero window extent is ignored", w, {100, 100}, {{50, 50, kRed}});
    }
}

TEST(MetafilePlayer, PlainHeaderPlaysLikePlaceable) {
    wmf::Writer w(100, 100);
    fill(w, rgb(255, 0, 0), 50, 50, 100, 100);
    const std::string placeable = w.finish();
    const std::string plain = placeable.substr(22);
    const QImage a = play(placeable, QSize(100, 100));
    const QImage b = play(plain, QSize(100, 100));
    EXPECT_EQ(a, b);
    EXPECT_EQ(at(b, 75, 75), kRed);
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
    ASSERT_TRUE(result.status.ok());
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

TEST(MetafilePlayer, TextIsDrawnAtItsReferencePointAndOpaqueTextFillsItsBackground) {
    BENCHCAP_SKIP_UNLESS(test::haveFonts(), "no fonts installed");
    wmf::Writer w(200, 100);
    w.font(20, wmf::FW_BOLD);
    w.bkMode(wmf::OPAQUE);
    w.bkColor(rgb(0, 255, 0));
    w.text(10, 10, "HHHH");  // top-left reference point, on green
    w.bkMode(wmf::TRANSPARENT);
    w.textAlign(wmf::TA_RIGHT | wmf::TA_BASELINE);
    w.text(190, 90, "HHHH");  // ends at x 190, stands on y 90
    const QImage image = play(w.finish(), QSize(200, 100));
    EXPECT_GT(test::darkIn(image, QRect(10, 10, 60, 20)), 40);
    EXPECT_GT(test::countIn(image, QRect(10, 10, 60, 20), qRgb(0, 255, 0)), 200);
    EXPECT_EQ(test::darkIn(image, QRect(0, 0, 200, 9)), 0);
    EXPECT_GT(test::darkIn(image, QRect(130, 70, 60, 20)), 40);
    EXPECT_EQ(test::countIn(image, QRect(100, 40, 100, 60), qRgb(0, 255, 0)), 0);
    EXPECT_EQ(test::darkIn(image, QRect(192, 40, 8, 60)), 0);
    EXPECT_EQ(test::darkIn(image, QRect(100, 92, 100, 8)), 0);
}

}  // namespace
}  // namespace benchcap::picture
