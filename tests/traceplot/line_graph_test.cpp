// The line graph: its rounded scale, the fixed grid and labels, the segments, gaps at
// non-finite values, clamping of huge values, and the blank cases.
#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QPainter>
#include <QPicture>
#include <cmath>
#include <limits>

#include <random>
#include "plot_test_util.h"
#include "support/golden.h"
#include "support/image_summary.h"

namespace benchcap::trace::testing {
namespace {

TEST(LineGraphScale, RoundsTiesToEvenAndClampsTo16Bits) {
    struct Row {
        double min, max;
        int top, bottom;
    };
    const Row rows[] = {
        {-87.3, -20.1, -10, -100},     // round(-2.01) = -2, round(-8.73) = -9
        {-87.3, -15, -10, -100},       // round(-1.5) = -2
        {-25, 25, 30, -30},            // round(2.5) = 2, round(-2.5) = -2
        {-35, 35, 50, -50},            // round(3.5) = 4
        {1, 5, 10, -10},               // round(0.5) = 0, round(0.1) = 0
        {0, 32755, 32767, -10},        // 32760 + 10 is beyond 16 bits
        {-1e30, 1e30, 32767, -32768},  // far beyond: the whole 16-bit range
        {1e6, 2e6, 32767, 32747},      // all above: still 20 apart
        {-2e6, -1e6, -32748, -32768},  // all below
        {32700, 32800, 32767, 32690},  // top clamped, bottom kept
    };
    for (const Row& r : rows) {
        const PlotScale s = LineGraphScale(r.min, r.max);
        EXPECT_EQ(s.top, r.top) << r.min << " ... " << r.max;
        EXPECT_EQ(s.bottom, r.bottom) << r.min << " ... " << r.max;
    }
}

TEST(LineGraph, GridRowsAndLabelsOverANegativeTrace) {
    // -10 ... -100 over 181 rows: two rows per unit, a grid line every 20 rows.
    const TraceDataSet data = plainTrace({-87.3f, -20.1f, -50, -60, -33});
    const QSize size(400, 181);
    PlotSummary summary;
    const QImage image = drawn(data, size, summary);
    EXPECT_EQ(summary.kind, PlotKind::LineGraph);
    EXPECT_EQ(summary.top, -10);
    EXPECT_EQ(summary.bottom, -100);
    EXPECT_FLOAT_EQ(summary.min, -87.3f);
    EXPECT_FLOAT_EQ(summary.max, -20.1f);
    EXPECT_TRUE(twoColours(image));

    for (int row = 0; row <= 180; ++row) {
        if (row % 20 == 0)
            EXPECT_EQ(blackInRow(image, row), size.width()) << "grid row " << row;
        else
            EXPECT_LT(blackInRow(image, row), size.width() / 2) << "row " << row;
    }

    // Each visible label sits half a "0" right of the left edge and a quarter of a text
    // height below its line; drawn alone it must be found in the plot.
    const QFontMetrics fm(DefaultPlotStyle().font, &image);
    const int dx = static_cast<int>(std::lround(fm.horizontalAdvance('0') / 2.0));
    const int dy = static_cast<int>(std::lround(fm.height() / 4.0));
    for (int value = -10; value >= -90; value -= 10) {
        const int row = (-10 - value) * 2;
        const QImage label =
            textsAlone(size, {{QPoint(dx, row + dy + fm.ascent()), QString::number(value)}});
        int inked = 0;
        for (int y = 0; y < size.height(); ++y) {
            for (int x = 0; x < size.width(); ++x) {
                if (black(label, x, y)) {
                    ++inked;
                    ASSERT_TRUE(black(image, x, y)) << "label " << value << " at " << x << "," << y;
                }
            }
        }
        EXPECT_GT(inked, 5) << "label " << value;
    }
}

TEST(LineGraph, ElevenVerticalLinesAndEverySegmentEnd) {
    // 501 values over 1001 columns: value i in column 2i, grid at index 0, 50, ... 500.
    std::vector<float> v(501);
    for (int i = 0; i <= 500; ++i)
        v[i] = static_cast<float>(-53.7 + 33.6 * std::sin(i / 30.0));
    const QSize size(1001, 301);
    const QImage image = render(plainTrace(v), size);
    const PlotScale scale = LineGraphScale(-87.3, -20.1);

    for (int x = 0; x < size.width(); ++x) {
        const bool grid = x % 100 == 0;
        EXPECT_EQ(blackInColumn(image, x) == size.height(), grid) << "column " << x;
    }
    for (int i = 0; i <= 500; ++i) {
        const int y = pixelOf(v[i], scale.top, scale.bottom, size.height());
        EXPECT_TRUE(black(image, 2 * i, y)) << "value " << i;
    }
}

TEST(LineGraph, NonFiniteValuesLeaveGaps) {
    // Six values over 1001 columns: value i in column 200 i. Scale 10 ... -10 over 201
    // rows: grid rows 0, 100 and 200.
    const TraceDataSet data = plainTrace({1, kNaN, 3, kInf, 5, 2});
    const QSize size(1001, 201);
    PlotSummary s;
    const QImage image = drawn(data, size, s);
    EXPECT_EQ(s.min, 1);
    EXPECT_EQ(s.max, 5);
    EXPECT_EQ(s.top, 10);
    EXPECT_EQ(s.bottom, -10);

    auto traceInk = [&](int x) {
        return blackInColumn(image, x, 1, 99) + blackInColumn(image, x, 101, 199);
    };
    for (int x : {50, 250, 450, 650})
        EXPECT_EQ(traceInk(x), 0) << "column " << x << " lies in a gap";
    // The one drawn segment, 5 -> 2, from row 50 to row 80.
    EXPECT_EQ(traceInk(850), 1);
    EXPECT_EQ(blackInColumn(image, 850, 56, 59), 1);
    EXPECT_TRUE(black(image, 800, 50));
    EXPECT_TRUE(black(image, 1000, 80));
}

TEST(LineGraph, ExtremesLeaveOutNonFiniteValuesAnywhere) {
    // Long traces are scanned in blocks, several values at a time: a NaN or infinity at
    // any place of a block, or at its end, must not become min or max.
    for (std::size_t n : {9u, 17u, 4096u, 4097u, 10000u}) {
        for (std::size_t at : {std::size_t(0), std::size_t(5), n / 2, n - 1}) {
            for (float odd : {kNaN, kInf, -kInf}) {
                std::vector<float> v(n);
                for (std::size_t i = 0; i < n; ++i)
                    v[i] = -40.0f + static_cast<float>(i % 7);
                v[at] = odd;
                v[(at + 3) % n] = odd;
                PlotSummary s;
                drawn(plainTrace(v), QSize(50, 40), s);
                EXPECT_EQ(s.min, -40) << n << " values, odd value at " << at;
                EXPECT_EQ(s.max, -34) << n << " values, odd value at " << at;
            }
        }
    }
}

TEST(LineGraph, HugeValuesDrawOffThePicture) {
    // Scale clamped to 32767 ... -32768: the grid and 0 fall together near row 150; the
    // segments to +-1e30 leave the picture almost vertically at value 2's column (the
    // rasterizer may put a line that ends there in the column beside it).
    const TraceDataSet data = plainTrace({5, 1e30f, 0, -1e30f});
    const QSize size(301, 301);
    PlotSummary s;
    const QImage image = drawn(data, size, s);
    EXPECT_EQ(s.top, 32767);
    EXPECT_EQ(s.bottom, -32768);
    for (int y = 0; y < size.height(); ++y)
        EXPECT_TRUE(black(image, 199, y) || black(image, 200, y) || black(image, 201, y)) << y;
    for (int x : {160, 250}) {
        EXPECT_EQ(blackInColumn(image, x, 0, 140), 0) << x;
        EXPECT_EQ(blackInColumn(image, x, 160, 300), 0) << x;
    }
}

TEST(RenderTracePlot, RefusesSizesItCannotDraw) {
    const TraceDataSet data = plainTrace({1, 2});
    for (const QSize size : {QSize(0, 10), QSize(10, -1), QSize(kMaxPlotSide + 1, 10)}) {
        const auto image = RenderTracePlot(data, size);
        ASSERT_FALSE(image.ok());
        EXPECT_NE(image.error().find("pixels"), std::string::npos) << image.error();
    }
    EXPECT_TRUE(RenderTracePlot(data, QSize(1, 1)).ok());
}

TEST(DrawTracePlotOnDevice, DrawsOverTheWholeDeviceOrSaysWhyNot) {
    const TraceDataSet data = plainTrace({-3, 17, 4, -60, 12});
    QImage image(240, 160, QImage::Format_RGB32);
    const auto drawn = DrawTracePlot(image, data, DefaultPlotStyle());
    ASSERT_TRUE(drawn.ok()) << drawn.error();
    EXPECT_EQ(drawn->kind, PlotKind::LineGraph);
    EXPECT_EQ(image, render(data, image.size()));

    QImage none;
    const auto refused = DrawTracePlot(none, data, DefaultPlotStyle());
    ASSERT_FALSE(refused.ok());
    EXPECT_NE(refused.error().find("trace plot"), std::string::npos);
}

TEST(DrawTracePlotOnDevice, AVectorDeviceGetsTheSamePicture) {
    // A recorded picture stands in for SVG and PDF: no pixels of its own, every span
    // drawn as a line. Played back onto an image it must match the direct drawing.
    std::vector<float> v(20000);
    for (std::size_t i = 0; i < v.size(); ++i)
        v[i] = static_cast<float>(-60 + 25 * std::sin(i / 900.0) + 6 * std::sin(i * 1.7));
    const TraceDataSet data = plainTrace(v);
    const QSize size(640, 360);
    QPicture picture;
    picture.setBoundingRect(QRect(QPoint(0, 0), size));
    {
        QPainter painter(&picture);
        DrawTracePlot(painter, QRect(QPoint(0, 0), size), data, DefaultPlotStyle());
    }
    QImage replayed(size, QImage::Format_RGB32);
    replayed.fill(Qt::white);
    QPainter painter(&replayed);
    painter.drawPicture(0, 0, picture);
    painter.end();
    EXPECT_EQ(replayed, render(data, size));
}

// The fast drawing of long traces (one span per pixel column) must give exactly the
// pixels of drawing every segment: random traces of several lengths and shapes, with
// spikes, plateaus and gaps, at several picture sizes.
enum class Shape { Walk, Noise, Spikes, Gaps, Plateaus, Sine, HugeSpikes };

std::vector<float> makeTrace(Shape shape, std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<float> gauss(0, 1);
    std::uniform_real_distribution<float> uni(0, 1);
    const float inf = std::numeric_limits<float>::infinity();
    std::vector<float> v(n);
    float walk = -50;
    float level = -50;
    for (std::size_t i = 0; i < n; ++i) {
        const float g = gauss(rng), r = uni(rng), u = uni(rng);
        walk += g;
        if (r < 0.01f)
            level = std::round(-100 + 100 * u);
        const float sine = 40 * std::sin(6.283f * 3 * static_cast<float>(i) / n) - 30;
        v[i] = shape == Shape::Walk       ? walk
               : shape == Shape::Noise    ? -60 + 20 * g
               : shape == Shape::Spikes   ? -80 + g + (r < 0.002f ? 70 * u : 0)
               : shape == Shape::Gaps     ? (r < 0.03f   ? std::nanf("")
                                             : r < 0.04f ? inf
                                             : r < 0.05f ? -inf
                                                         : walk)
               : shape == Shape::Plateaus ? level
               : shape == Shape::Sine     ? sine
                                          : (r < 0.001f ? (u < 0.5f ? 1e30f : -1e30f) : 10 * g);
    }
    return v;
}

QImage renderStyled(const TraceDataSet& data, QSize size, bool everySegment) {
    PlotStyle style = DefaultPlotStyle();
    style.everySegment = everySegment;
    return render(data, size, style);
}

struct Case {
    Shape shape;
    std::size_t values;
};

TEST(ColumnDrawing, SameImageAsEverySegment) {
    const Case cases[] = {
        {Shape::Walk, 2},        {Shape::Noise, 3},       {Shape::Walk, 17},
        {Shape::Noise, 500},     {Shape::Spikes, 4097},   {Shape::Gaps, 4097},
        {Shape::Plateaus, 5000}, {Shape::Sine, 32768},    {Shape::Walk, 32768},
        {Shape::Gaps, 100000},   {Shape::Spikes, 100000}, {Shape::HugeSpikes, 20000},
        {Shape::Noise, 250001},
    };
    const QSize sizes[] = {{1, 1}, {2, 3}, {7, 5}, {64, 48}, {333, 200}, {1920, 1080}, {97, 1000}};
    unsigned seed = 1;
    for (const Case& c : cases) {
        const TraceDataSet data = plainTrace(makeTrace(c.shape, c.values, seed++));
        for (const QSize size : sizes) {
            if (c.values > 40000 && size.width() < 64)
                continue;  // the small pictures are covered by the shorter traces
            const QImage fast = renderStyled(data, size, false);
            const QImage full = renderStyled(data, size, true);
            ASSERT_EQ(fast, full) << "shape " << int(c.shape) << ", " << c.values << " values, "
                                  << size.width() << " x " << size.height();
        }
    }
}

TEST(ColumnDrawing, SameImageInsideAnOffsetArea) {
    const TraceDataSet data = plainTrace(makeTrace(Shape::Gaps, 30000, 99));
    const QRect area(13, 7, 301, 203);
    QImage images[2];
    for (int k = 0; k < 2; ++k) {
        images[k] = QImage(340, 230, QImage::Format_RGB32);
        images[k].fill(Qt::red);
        QPainter painter(&images[k]);
        PlotStyle style = DefaultPlotStyle();
        style.everySegment = k == 1;
        DrawTracePlot(painter, area, data, style);
    }
    EXPECT_EQ(images[0], images[1]);
    // Nothing outside the area is touched.
    for (int y = 0; y < images[0].height(); ++y) {
        for (int x = 0; x < images[0].width(); ++x) {
            if (!area.contains(x, y)) {
                ASSERT_EQ(images[0].pixel(x, y), qRgb(255, 0, 0)) << x << "," << y;
            }
        }
    }
}

}  // namespace
}  // namespace benchcap::trace::testing
