// The constellation of paired values and the listing of symbol tables.
#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QPainter>
#include <limits>
#include <random>

#include "plot_test_util.h"

namespace benchcap::trace::testing {
namespace {

bool inkNear(const QImage& image, int x, int y) {
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
            if (image.rect().contains(x + dx, y + dy) && black(image, x + dx, y + dy))
                return true;
    return false;
}

TEST(Constellation, FourPointsThreeLinesThreeCircles) {
    // A(2,5) B(5,8) C(8,5) D(5,2) on 2 ... 8 both ways, 2000 x 800 pixels: circles of
    // radius 2000 / 400 = 5 pixels at A, B and C.
    const TraceDataSet data = pairTrace({2, 5, 5, 8, 8, 5, 5, 2});
    const QSize size(2000, 800);
    PlotSummary s;
    const QImage image = drawn(data, size, s);
    EXPECT_EQ(s.kind, PlotKind::Constellation);
    EXPECT_EQ(s.min, 2);
    EXPECT_EQ(s.max, 8);

    auto px = [&](double v) { return pixelOf(v, 2, 8, size.width()); };
    auto py = [&](double v) { return pixelOf(v, 8, 2, size.height()); };
    const QPoint a(px(2), py(5)), b(px(5), py(8)), c(px(8), py(5)), d(px(5), py(2));
    EXPECT_EQ(a, QPoint(0, 400));
    EXPECT_EQ(d, QPoint(1000, 799));
    for (QPoint p : {a, b, c, d})
        EXPECT_TRUE(black(image, p.x(), p.y()));

    // Circle rims where no line passes, the rim around D empty, centres not filled; lines
    // A-B, B-C, C-D, none from D back to A.
    const std::pair<QPoint, bool> probes[] = {
        {a + QPoint(5, 0), true},  {a + QPoint(0, 5), true},  {b + QPoint(0, 5), true},
        {c - QPoint(5, 0), true},  {d - QPoint(0, 5), false}, {d - QPoint(5, 0), false},
        {d + QPoint(5, 0), false}, {b + QPoint(0, 2), false}, {(a + b) / 2, true},
        {(b + c) / 2, true},       {(c + d) / 2, true},       {(d + a) / 2, false},
    };
    for (const auto& [p, ink] : probes)
        EXPECT_EQ(inkNear(image, p.x(), p.y()), ink) << p.x() << "," << p.y();
}

TEST(Constellation, PointsWithNonFiniteCoordinatesAreLeftOut) {
    // An odd value count leaves a half point; a NaN point has neither circle nor lines.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const TraceDataSet data = pairTrace({0, 0, nan, 5, 10, 10, 10, 0, 7});
    const QSize size(801, 801);  // 80 pixels per unit
    const QImage image = render(data, size);
    // The line (10,10) -> (10,0) is drawn: the right edge column.
    EXPECT_EQ(blackInColumn(image, 800), 801);
    // Nothing at all in the middle: no line through the NaN point from (0,0).
    EXPECT_EQ(blackInColumn(image, 400), 0);
    EXPECT_EQ(blackInRow(image, 400), 1);  // only the right edge line
}

QStringList listing(std::vector<uint8_t> bits, int16_t bitsPerSymbol, int width = 10000) {
    const QImage device(1, 1, QImage::Format_RGB32);
    const QFontMetrics fm(DefaultPlotStyle().font, &device);
    return SymbolListingLines(symbolTable(std::move(bits), bitsPerSymbol), fm, width);
}

// The rule written plainly: before each digit, a line wider than the area is printed.
QStringList plainListing(const std::vector<uint8_t>& bits, int bitsPerSymbol,
                         const QFontMetrics& fm, int width) {
    QStringList lines;
    QString line;
    int counter = 0;
    for (uint8_t bit : bits) {
        if (fm.horizontalAdvance(line) > width) {
            lines << line;
            line.clear();
        }
        line += QChar(u'0' + bit);
        if (++counter == bitsPerSymbol) {
            line += '.';
            counter = 0;
        }
    }
    if (!line.isEmpty())
        lines << line;
    return lines;
}

TEST(SymbolListing, LinesBreakOnceWiderThanTheArea) {
    const QImage device(1, 1, QImage::Format_RGB32);
    const QFontMetrics fm(DefaultPlotStyle().font, &device);
    // A dot after every symbol (none without a width), the last one perhaps partial.
    EXPECT_EQ(listing({1, 0, 1, 0, 0, 1, 1, 1, 0, 1}, 3), QStringList{"101.001.110.1"});
    std::mt19937 rng(7);
    for (int bps : {0, 1, 2, 3, 4, 6, 8}) {
        std::vector<uint8_t> bits(1500 + bps);
        for (auto& b : bits)
            b = rng() & 1;
        for (int width : {1, 30, 97, 333, 1920}) {
            const QStringList expected = plainListing(bits, bps, fm, width);
            ASSERT_EQ(listing(bits, static_cast<int16_t>(bps), width), expected)
                << bps << " bits per symbol, " << width << " pixels";
            for (int i = 0; i + 1 < expected.size(); ++i)
                EXPECT_GT(fm.horizontalAdvance(expected[i]), width);
        }
    }
}

TEST(SymbolListing, PrintedFromTheTopLeftLineByLine) {
    std::vector<uint8_t> bits(300);
    std::mt19937 rng(3);
    for (auto& b : bits)
        b = rng() & 1;
    const TraceDataSet data = symbolTable(bits, 4);
    const QSize size(200, 120);
    PlotSummary s;
    const QImage image = drawn(data, size, s);
    EXPECT_EQ(s.kind, PlotKind::SymbolListing);

    const QFontMetrics fm(DefaultPlotStyle().font, &image);
    const QStringList lines = plainListing(bits, 4, fm, size.width());
    EXPECT_EQ(s.textLines, lines.size());
    std::vector<std::pair<QPoint, QString>> texts;
    for (int i = 0; i < lines.size(); ++i)
        texts.emplace_back(QPoint(0, i * fm.height() + fm.ascent()), lines[i]);
    const QImage expected = textsAlone(size, texts);
    EXPECT_EQ(image, expected);
    EXPECT_TRUE(twoColours(image));
}

}  // namespace
}  // namespace benchcap::trace::testing
