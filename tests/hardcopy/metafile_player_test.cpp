// Writer -> player round trips: what the writer records is drawn where and how the
// metafile says, under every mapping, and damaged records do not stop the picture.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include "hardcopy/picture/wmf_writer.h"

#include <filesystem>
#include "hardcopy/picture/picture.h"
#include "picture_test_util.h"
#include "support/golden.h"
#include "support/image_summary.h"
#include "support/metafile_samples.h"
#include "support/test_paths.h"

namespace benchcap::picture {
namespace {

using test::play;
using wmf::rgb;

// A filled rectangle without outline.
void fill(wmf::Writer& w, uint32_t colour, int l, int t, int r, int b) {
    w.nullPen();
    w.brush(colour);
    w.rectangle(l, t, r, b);
}

// Small pictures, by name: the size to play each onto and the metafile.
struct Sample {
    QSize size;
    std::function<std::string()> bytes;
};
const std::map<std::string, Sample>& samples() {
    static const std::map<std::string, Sample> kSamples = {
        {"line-and-fill",  // a red line across and a blue fill, played at twice the size
         {{200, 200},
          [] {
              wmf::Writer w(100, 100);
              w.pen(wmf::PS_SOLID, 0, rgb(255, 0, 0));
              w.line(10, 50, 90, 50);
              fill(w, rgb(0, 0, 255), 20, 10, 40, 30);
              return w.finish();
          }}},
        {"long-polyline",  // split into records and drawn whole
         {{1000, 100},
          [] {
              wmf::Writer w(1000, 100);
              w.pen(wmf::PS_SOLID, 0, rgb(255, 0, 0));
              std::vector<wmf::Point> trace;
              for (int i = 0; i < 40000; ++i)
                  trace.push_back({i / 40, 50});
              w.polyline(trace);
              return w.finish();
          }}},
        {"restore-dc",  // blue at 10, then red at 20, 30 and 40
         {{100, 100},
          [] {
              wmf::Writer w(100, 100);
              const auto red = w.createPen(wmf::PS_SOLID, 0, rgb(255, 0, 0));
              const auto blue = w.createPen(wmf::PS_SOLID, 0, rgb(0, 0, 255));
              w.select(red);
              w.saveDC();
              w.select(blue);
              w.saveDC();
              w.line(0, 10, 100, 10);
              w.restoreDC(-2);  // back to the state before the first save
              w.line(0, 20, 100, 20);
              w.restoreDC(-1);  // nothing saved any more: ignored
              w.line(0, 30, 100, 30);
              w.saveDC();
              w.select(blue);
              w.restoreDC(1);  // absolute level 1
              w.line(0, 40, 100, 40);
              return w.finish();
          }}},
        {"nop-and-clip",  // R2_NOP draws nothing; only the left half stays drawable
         {{100, 100},
          [] {
              wmf::Writer w(100, 100);
              w.rop2(wmf::R2_NOP);
              fill(w, rgb(0, 0, 255), 0, 0, 100, 50);
              w.rop2(wmf::R2_COPYPEN);
              w.record(wmf::META_INTERSECTCLIPRECT, {100, 50, 50, 0});  // bottom, right, top, left
              fill(w, rgb(0, 0, 255), 0, 50, 100, 100);
              return w.finish();
          }}},
        {"flipped-window",  // a negative window extent flips y: red at the bottom left
         {{200, 200},
          [] {
              wmf::Writer w(100, 100);
              w.setWindowOrg(0, 100);
              w.setWindowExt(100, -100);
              fill(w, rgb(255, 0, 0), 0, 0, 20, 20);
              return w.finish();
          }}},
        {"isotropic",  // units stay square
         {{200, 200},
          [] {
              wmf::Writer w(100, 100);
              w.setMapMode(wmf::MM_ISOTROPIC);
              w.setWindowExt(200, 100);
              fill(w, rgb(255, 0, 0), 0, 150, 40, 190);
              return w.finish();
          }}},
        {"metric",  // 0.1 mm with y upwards
         {{200, 200},
          [] {
              wmf::Writer w(1000, 1000, 254);
              w.setMapMode(wmf::MM_LOMETRIC);
              fill(w, rgb(0, 0, 255), 100, -100, 300, -300);
              return w.finish();
          }}},
        {"text-mapping",  // MM_TEXT ignores the window extent
         {{200, 200},
          [] {
              wmf::Writer w(100, 100);
              w.setMapMode(wmf::MM_TEXT);
              w.setWindowExt(1000, 1000);
              fill(w, rgb(0, 0, 255), 50, 50, 100, 100);
              return w.finish();
          }}},
        {"zero-window",  // a zero window extent is ignored
         {{100, 100},
          [] {
              wmf::Writer w(100, 100);
              w.setWindowExt(0, 0);
              w.pen(wmf::PS_SOLID, 0, rgb(255, 0, 0));
              w.line(0, 50, 100, 50);
              return w.finish();
          }}},
        {"placeable",  // red in the lower right quarter, with and without placeable header
         {{100, 100},
          [] {
              wmf::Writer w(100, 100);
              fill(w, rgb(255, 0, 0), 50, 50, 100, 100);
              return w.finish();
          }}},
        {"plain", {{100, 100}, [] { return samples().at("placeable").bytes().substr(22); }}},
        {"stretchdib",  // 2 x 2 pixels, 24 bits, bottom row first: red, white; blue, white
         {{100, 100},
          [] {
              std::vector<uint16_t> params{0x0020, 0x00CC, 0, 2, 2, 0, 0, 100, 100, 0, 0};
              const uint16_t header[20] = {40, 0, 2, 0, 2, 0, 1, 24, 0, 0,
                                           16, 0, 0, 0, 0, 0, 0, 0,  0, 0};
              params.insert(params.end(), std::begin(header), std::end(header));
              const uint8_t rows[16] = {0,   0, 255, 255, 255, 255, 0, 0,
                                        255, 0, 0,   255, 255, 255, 0, 0};
              for (int i = 0; i < 16; i += 2)
                  params.push_back(static_cast<uint16_t>(rows[i] | (rows[i + 1] << 8)));
              wmf::Writer w(100, 100);
              w.record(wmf::META_STRETCHDIB, params);
              return w.finish();
          }}},
        {"damaged-records",  // warnings, and the red line after them drawn all the same
         {{100, 100},
          [] {
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
              w.record(wmf::META_DELETEOBJECT, {0});  // the writer does not know the region
              w.record(wmf::META_SCALEWINDOWEXT, {0, 1, 0, 1});
              w.pen(wmf::PS_SOLID, 0, rgb(255, 0, 0));
              w.line(0, 50, 100, 50);
              return w.finish();
          }}},
    };
    return kSamples;
}

// The named sample played: its picture (imageSummary) and the player's warnings.
std::string played(const std::string& name) {
    const Sample& sample = samples().at(name);
    PlayResult result;
    std::string out = benchcap::test::imageSummary(play(sample.bytes(), sample.size, &result));
    if (!result.status.ok())
        out += "failed: " + result.status.error() + "\n";
    for (const std::string& warning : result.warnings)
        out += "warning: " + warning + "\n";
    return out;
}

TEST(MetafilePlayer, DrawingLandsWhereTheFileSaysUnderEveryMapping) {
    benchcap::test::checkGolden("golden/metafile-pictures.txt", played);
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
