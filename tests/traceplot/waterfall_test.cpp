// The waterfall: values per kind of trace, reduction of columns and lines, the colour
// range, restarts, and the colours drawn at known cells.
#include <gtest/gtest.h>

#include <QPainter>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "plot_test_util.h"
#include "trace/plot/waterfall.h"

namespace benchcap::trace::testing {
namespace {

TEST(Waterfall, CellsAndRangeOfEachKindOfTrace) {
    struct Row {
        std::string what;
        std::vector<TraceDataSet> added;
        std::vector<float> lastLine;
        double min, max;
        int64_t acquisitions;
    };
    const float nan = kNaN, inf = kInf;
    TraceDataSet net = pairTrace({0, 2, 0, -3});
    net.IsNetworkTrace = true;
    net.axis32 = {1, 2};
    TraceDataSet netMoved = net;
    netMoved.axis32 = {1, 3};
    const Row rows[] = {
        {"pairs: magnitudes", {pairTrace({3, 4, -6, 8})}, {5, 10}, 5, 10, 1},
        {"network pairs", {net}, {2, 3}, 2, 3, 1},
        {"symbol bits", {symbolTable({1, 0, 1}, 1)}, {1, 0, 1}, 0, 1, 1},
        {"no values", {plainTrace({nan, inf, -inf})}, {nan, nan, nan}, nan, nan, 1},
        {"peaks, bins 2 2 3", {plainTrace({1, 0, 0, -7, 0, 0, 9})}, {1, 0, 9}, 0, 9, 1},
        {"nan, inf", {plainTrace({nan, 2, inf, -inf, nan, nan, nan})}, {2, nan, nan}, 2, 2, 1},
        {"line peaks", {plainTrace({1, 5, 2}), plainTrace({4, 3, nan})}, {4, 5, 2}, 1, 5, 2},
        {"new axis restarts", {net, netMoved}, {2, 3}, 2, 3, 1},
        {"new length restarts", {plainTrace({1, 2, 3}), plainTrace({5, 6})}, {5, 6}, 5, 6, 1},
    };
    for (const Row& r : rows) {
        Waterfall w(1, 3);
        for (const TraceDataSet& d : r.added)
            w.add(d);
        ASSERT_EQ(w.columns(), int(r.lastLine.size())) << r.what;
        EXPECT_EQ(w.acquisitions(), r.acquisitions) << r.what;
        for (int c = 0; c < w.columns(); ++c) {
            const float cell = w.cell(w.lines() - 1, c);
            EXPECT_TRUE(cell == r.lastLine[c] || (std::isnan(cell) && std::isnan(r.lastLine[c])))
                << r.what << " column " << c << ": " << cell;
        }
        EXPECT_EQ(std::isnan(w.minimum()), std::isnan(r.min)) << r.what;
        EXPECT_TRUE(std::isnan(r.min) || (w.minimum() == r.min && w.maximum() == r.max)) << r.what;
    }
}

TEST(Waterfall, MergedLinesKeepTheWholeRecording) {
    // A spur in the first acquisition at column 0, in the last at column 1.
    for (const std::size_t maxLines : {1, 2, 3, 4, 7}) {
        for (const int64_t count : {2, 5, 11, 1000}) {
            Waterfall w(maxLines, 4);
            for (int64_t i = 0; i < count; ++i)
                w.add(plainTrace({i == 0 ? 9.0f : 0.0f, i == count - 1 ? 9.0f : 0.0f}));
            const std::string what = std::to_string(maxLines) + " lines, " + std::to_string(count);
            EXPECT_EQ(w.acquisitions(), count) << what;
            EXPECT_LE(std::size_t(w.lines()), maxLines) << what;
            const int64_t perLine = w.acquisitionsPerLine();
            EXPECT_TRUE(perLine * (w.lines() - 1) < count && count <= perLine * w.lines()) << what;
            EXPECT_EQ(w.cell(0, 0), 9) << what;
            EXPECT_EQ(w.cell(w.lines() - 1, 1), 9) << what;
        }
    }
}

TEST(Waterfall, ColoursAtKnownCells) {
    Waterfall w(8, 16);
    const QSize size(400, 200);
    const PlotStyle style = DefaultPlotStyle();
    QImage blank(size, QImage::Format_RGB32);
    blank.fill(style.background);
    EXPECT_EQ(w.image(size, style), blank) << "empty: only the background";

    const auto pixel = [&](const QImage& image, int line, int column) {
        const QRect cells = w.cellArea(image.rect(), style);
        return image.pixel(cells.left() + (2 * column + 1) * cells.width() / (2 * w.columns()),
                           cells.top() + (2 * line + 1) * cells.height() / (2 * w.lines()));
    };
    w.add(plainTrace({-50, -50, -50}));
    EXPECT_EQ(pixel(w.image(size, style), 0, 1), WaterfallColour(0.5)) << "all equal";

    // Known ramps with a gap: colours must follow a widening range, lines merging, and a
    // spur arriving in a line that already stood for an acquisition.
    const auto expectLine = [&](int line, auto colourOf) {
        const QImage image = w.image(size, style);
        for (int c = 0; c <= 10; ++c)
            EXPECT_EQ(pixel(image, line, c), colourOf(c)) << "line " << line << " column " << c;
    };
    const QRgb none = style.background.rgb();
    std::vector<float> ramp{0, 1, 2, 3, kNaN, 5, 6, 7, 8, 9, 10};
    w = Waterfall(2, 16);
    w.add(plainTrace(ramp));
    expectLine(0, [&](int c) { return c == 4 ? none : WaterfallColour(c / 10.0); });
    for (float& v : ramp)
        v *= 2;
    w.add(plainTrace(ramp));
    expectLine(0, [&](int c) { return c == 4 ? none : WaterfallColour(c / 20.0); });
    w.add(plainTrace(std::vector<float>(11, 5)));  // merges the lines holding the ramps
    w.image(size, style);
    std::vector<float> spur(11, 1);
    spur[4] = 15;
    w.add(plainTrace(spur));
    expectLine(0, [&](int c) { return c == 4 ? none : WaterfallColour(c / 10.0); });
    expectLine(1, [&](int c) { return WaterfallColour(c == 4 ? 0.75 : 0.25); });
}

TEST(Waterfall, SpursSurviveFewerPixelsThanCells) {
    // 128 x 128 cells into about half as many pixels each way; spurs at every parity.
    Waterfall w(128, 128);
    const std::pair<int, int> spurs[] = {{10, 20}, {51, 71}, {100, 33}, {127, 127}};
    for (int line = 0; line < 128; ++line) {
        std::vector<float> v(128, 0);
        for (const auto& [at, column] : spurs)
            v[column] += at == line ? 1.0f : 0.0f;
        w.add(plainTrace(v));
    }
    const QImage image = w.image(QSize(170, 90), DefaultPlotStyle());
    const QRect cells = w.cellArea(image.rect(), DefaultPlotStyle());
    ASSERT_TRUE(cells.width() < 128 && cells.height() < 128)
        << cells.width() << "x" << cells.height();
    int lit = 0;
    for (int y = cells.top(); y <= cells.bottom(); ++y)
        for (int x = cells.left(); x <= cells.right(); ++x)
            lit += image.pixel(x, y) == WaterfallColour(1);
    EXPECT_EQ(lit, 4);
}

TEST(Waterfall, EngineeringLabels) {
    const std::pair<double, const char*> rows[] = {
        {1.5e9, "1.5 G"}, {-85.25, "-85.25"},  {0.25, "250 m"}, {999.96, "1 k"},
        {1e-3, "1 m"},    {123456, "123.5 k"}, {0, "0"},        {-2.5e-6, "-2.5 u"},
    };
    for (const auto& [value, text] : rows)
        EXPECT_EQ(EngineeringLabel(value).toStdString(), text);
}

}  // namespace
}  // namespace benchcap::trace::testing
