#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "trace/trace_field.h"
#include "trace/trace_text.h"

namespace benchcap::trace {
namespace {

// The table as text lines, to assert whole rows at once.
std::vector<std::string> Lines(const TraceDataSet& data) {
    const std::string text = TraceText(GenTraceField(data), '.');
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find("\r\n", start);
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

std::vector<float> Count(std::size_t n, float first = 1.0f) {
    std::vector<float> v(n);
    for (std::size_t i = 0; i < n; ++i) {
        v[i] = first + static_cast<float>(i);
    }
    return v;
}

TEST(GenTraceField, PlainAnalyzerTrace) {
    TraceDataSet data;
    data.values = {-80.5f, -81.25f, -79.0f};
    data.axis = AnalyzerAxis::Of(3, 375, 250, 0, 0);  // 250, 375, 500
    const TraceField field = GenTraceField(data);
    EXPECT_EQ(field.RowCount(), 3u);
    ASSERT_EQ(field.ColumnCount(), 2u);
    EXPECT_EQ(field.columns[0].kind, CellKind::Axis);
    EXPECT_EQ(field.columns[1].kind, CellKind::F32);
    EXPECT_EQ(Lines(data), (std::vector<std::string>{"250\t-80.5", "375\t-81.25", "500\t-79"}));
}

TEST(GenTraceField, PairedAnalyzerTraceUsesTheFirstHalfOfTheAxis) {
    TraceDataSet data;
    data.IsPairs = true;
    data.values = Count(8, 10.0f);
    data.axis = AnalyzerAxis::Of(8, 0, 0, 0, 4);  // 0, 0.25, 0.5, ... 1.75
    const TraceField field = GenTraceField(data);
    EXPECT_EQ(field.RowCount(), 4u);
    EXPECT_EQ(field.ColumnCount(), 3u);
    EXPECT_EQ(Lines(data), (std::vector<std::string>{"0\t10\t11", "0.25\t12\t13", "0.5\t14\t15",
                                                     "0.75\t16\t17"}));
}

TEST(GenTraceField, NetworkPairs201PointsGive201RowsOfThreeCells) {
    TraceDataSet data;
    data.IsNetworkTrace = true;
    data.IsPairs = true;
    data.values = Count(402);
    data.axis32 = Count(201);
    const TraceField field = GenTraceField(data);
    ASSERT_EQ(field.RowCount(), 201u);
    ASSERT_EQ(field.ColumnCount(), 3u);
    EXPECT_EQ(field.columns[0].kind, CellKind::F32);
    const std::vector<std::string> lines = Lines(data);
    ASSERT_EQ(lines.size(), 201u);
    // Line k holds x value k and the values 2k - 1 and 2k.
    for (int k = 1; k <= 201; ++k) {
        EXPECT_EQ(lines[k - 1], std::to_string(k) + "\t" + std::to_string(2 * k - 1) + "\t" +
                                    std::to_string(2 * k));
    }
}

TEST(GenTraceField, NetworkPlainTraceIsTwoFloatColumns) {
    TraceDataSet data;
    data.IsNetworkTrace = true;
    data.IsSymbolTable = true;  // not looked at for network traces
    data.BitsPerSymbol = 2;
    data.values = {-3.5f, -4.0f};
    data.axis32 = {1.5e9f, 1.6e9f};
    EXPECT_EQ(Lines(data), (std::vector<std::string>{"1.5E+09\t-3.5", "1.6E+09\t-4"}));
}

TEST(GenTraceField, SymbolTableRowsAreSymbols) {
    TraceDataSet data;
    data.IsSymbolTable = true;
    data.BitsPerSymbol = 2;
    data.bits = {1, 0, 0, 1, 1, 1, 0, 0};  // QPSK symbols 10, 01, 11, 00
    data.axis = AnalyzerAxis::Of(8, 0, 0, 0, 1);
    const TraceField field = GenTraceField(data);
    EXPECT_EQ(field.RowCount(), 4u);
    ASSERT_EQ(field.ColumnCount(), 2u);
    EXPECT_EQ(field.columns[1].kind, CellKind::Bit);
    EXPECT_EQ(Lines(data), (std::vector<std::string>{"1\t0", "0\t1", "1\t1", "0\t0"}));
}

TEST(GenTraceField, HundredQpskSymbolsGiveHundredLinesOfBits) {
    TraceDataSet data;
    data.IsSymbolTable = true;
    data.BitsPerSymbol = 2;
    for (int i = 0; i < 200; ++i) {
        data.bits.push_back(static_cast<uint8_t>((i * 7 / 3) & 1));
    }
    const std::vector<std::string> lines = Lines(data);
    ASSERT_EQ(lines.size(), 100u);
    for (const std::string& line : lines) {
        EXPECT_TRUE(line == "0\t0" || line == "0\t1" || line == "1\t0" || line == "1\t1") << line;
    }
}

TEST(GenTraceField, OddPairCountsRoundHalfToEvenWithoutReadingPastTheEnd) {
    TraceDataSet data;
    data.IsNetworkTrace = true;
    data.IsPairs = true;
    data.axis32 = Count(10);
    // 7 values: 3.5 rows round to 4; the lone last value gets an empty partner cell.
    data.values = Count(7);
    EXPECT_EQ(GenTraceField(data).RowCount(), 4u);
    EXPECT_EQ(Lines(data).back(), "4\t7\t");
    // 5 values: 2.5 rows round to 2.
    data.values = Count(5);
    EXPECT_EQ(Lines(data), (std::vector<std::string>{"1\t1\t2", "2\t3\t4"}));
}

TEST(GenTraceField, ShortStimulusBlockGivesEmptyXCells) {
    // Three values per point: 603 values, 201 stimulus values, 302 rows.
    TraceDataSet data;
    data.IsNetworkTrace = true;
    data.IsPairs = true;
    data.values = Count(603);
    data.axis32 = Count(201);
    const std::vector<std::string> lines = Lines(data);
    ASSERT_EQ(lines.size(), 302u);
    EXPECT_EQ(lines[200], "201\t401\t402");
    EXPECT_EQ(lines[201], "\t403\t404");
    EXPECT_EQ(lines[301], "\t603\t");
}

TEST(GenTraceField, SymbolTableQuotientRoundsAndUnknownWidthGivesNoCells) {
    TraceDataSet data;
    data.IsSymbolTable = true;
    data.BitsPerSymbol = 4;
    data.bits = {1, 0, 0, 1, 1, 1};  // 1.5 symbols round to 2
    EXPECT_EQ(Lines(data), (std::vector<std::string>{"1\t0\t0\t1", "1\t1\t\t"}));
    data.BitsPerSymbol = 0;
    const TraceField none = GenTraceField(data);
    EXPECT_EQ(none.RowCount(), 0u);
    EXPECT_EQ(none.ColumnCount(), 0u);
    EXPECT_EQ(TraceText(none, '.'), "");
}

TEST(GenTraceField, EmptyDataSetGivesEmptyTable) {
    for (bool network : {false, true}) {
        for (bool pairs : {false, true}) {
            TraceDataSet data;
            data.IsNetworkTrace = network;
            data.IsPairs = pairs;
            EXPECT_EQ(GenTraceField(data).RowCount(), 0u);
            EXPECT_EQ(TraceText(GenTraceField(data), '.'), "");
        }
    }
}

TEST(TraceColumn, NumberIsTheCellValue) {
    TraceDataSet data;
    data.values = {-80.5f};
    data.axis = AnalyzerAxis::Of(1, 1e9 + 1, 1, 0, 0);  // starts at 1e9 + 0.5
    const TraceField field = GenTraceField(data);
    EXPECT_EQ(field.columns[0].Number(0), 1e9 + 0.5);
    EXPECT_EQ(field.columns[1].Number(0), -80.5);
}

}  // namespace
}  // namespace benchcap::trace
