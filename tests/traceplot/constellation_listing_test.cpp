// The constellation of paired values and the listing of symbol tables.
#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QPainter>
#include <random>
#include <sstream>

#include "plot_test_util.h"
#include "support/golden.h"
#include "support/image_summary.h"

namespace benchcap::trace::testing {
namespace {

// "plain|pairs VALUES WxH" or "symbols BITS WIDTH WxH": the data drawn over a red image
// (a pixel left red was not drawn): the plot's summary and the picture (imageSummary).
std::string Plotted(const std::string& input) {
    std::istringstream in(input);
    std::string kind, list, size;
    int width = 0;
    in >> kind >> list;
    if (kind == "symbols")
        in >> width;
    in >> size;
    std::vector<float> values;
    std::istringstream items(list == "-" ? "" : list);
    for (std::string item; std::getline(items, item, ',');)
        values.push_back(std::stof(item));
    const TraceDataSet data = kind == "pairs" ? pairTrace(values)
                              : kind == "symbols"
                                  ? symbolTable(std::vector<uint8_t>(values.begin(), values.end()),
                                                static_cast<int16_t>(width))
                                  : plainTrace(values);
    PlotSummary s;
    const QImage image =
        drawn(data, QSize(std::stoi(size), std::stoi(size.substr(size.find('x') + 1))), s);
    static const char* kKinds[] = {"blank", "constellation", "symbol listing", "line graph"};
    return std::string(kKinds[static_cast<int>(s.kind)]) + " " + std::to_string(s.min) + " .. " +
           std::to_string(s.max) + "\n" + benchcap::test::imageSummary(image);
}

TEST(Constellation, PointsLinesAndCirclesOrABlankPicture) {
    benchcap::test::checkGolden("golden/trace-plots.txt", Plotted);
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
