// The fast drawing of long traces (one span per pixel column) must give exactly the
// pixels of drawing every segment: random traces of several lengths and shapes, with
// spikes, plateaus and gaps, at several picture sizes.
#include <gtest/gtest.h>

#include <QPainter>
#include <cmath>
#include <limits>
#include <random>

#include "plot_test_util.h"

namespace benchcap::trace::testing {
namespace {

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
