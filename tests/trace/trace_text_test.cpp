#include "trace/trace_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "trace/trace_data.h"
#include "trace/trace_field.h"

namespace benchcap::trace {
namespace {

TraceDataSet Analyzer(std::vector<float> values, AnalyzerAxis axis, bool pairs = false) {
    TraceDataSet d;
    d.values = std::move(values);
    d.axis = axis;
    d.IsPairs = pairs;
    return d;
}

TraceDataSet Network(std::vector<float> values, std::vector<float> axis32, bool pairs) {
    TraceDataSet d;
    d.IsNetworkTrace = true;
    d.values = std::move(values);
    d.axis32 = std::move(axis32);
    d.IsPairs = pairs;
    return d;
}

TraceDataSet Symbols(std::vector<uint8_t> bits, int16_t bitsPerSymbol, AnalyzerAxis axis = {}) {
    TraceDataSet d;
    d.IsSymbolTable = true;
    d.BitsPerSymbol = bitsPerSymbol;
    d.bits = std::move(bits);
    d.axis = axis;
    return d;
}

// first, first + step, ...: n values.
std::vector<float> Count(std::size_t n, float first = 1.0f, float step = 1.0f) {
    std::vector<float> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = first + step * static_cast<float>(i);
    return v;
}

std::vector<float> Wave(std::size_t n, double scale) {
    std::vector<float> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = static_cast<float>(std::sin(0.001 * static_cast<double>(i)) * scale);
    return v;
}

// The text written cell by cell with C's printf: x with 15 digits for an analyzer, every
// 32-bit value with 7 (full rows only).
std::string Printed(const TraceDataSet& d) {
    std::string text;
    char cell[64];
    const std::size_t per = d.IsPairs ? 2 : 1;
    for (std::size_t k = 0; k < d.values.size() / per; ++k) {
        if (d.IsNetworkTrace)
            std::snprintf(cell, sizeof cell, "%.7G", static_cast<double>(d.axis32[k]));
        else
            std::snprintf(cell, sizeof cell, "%.15G", d.axis.at(k));
        text += cell;
        for (std::size_t j = 0; j < per; ++j) {
            std::snprintf(cell, sizeof cell, "\t%.7G", static_cast<double>(d.values[per * k + j]));
            text += cell;
        }
        text += "\r\n";
    }
    return text;
}

TEST(TraceText, EveryLayoutRowByRowWithItsEmptyCells) {
    std::string network201;  // line k: x value k and the values 2k - 1 and 2k
    for (int k = 1; k <= 201; ++k)
        network201 += std::to_string(k) + "\t" + std::to_string(2 * k - 1) + "\t" +
                      std::to_string(2 * k) + "\r\n";
    TraceDataSet networkIgnoresSymbols = Network({0.123456789f, -4.0f}, {1.5e9f, 1.6e9f}, false);
    networkIgnoresSymbols.IsSymbolTable = true;
    networkIgnoresSymbols.BitsPerSymbol = 2;
    const struct {
        TraceDataSet data;
        char separator;
        std::size_t rows;
        int columns;  // -1: any, when there are no rows
        std::string text;
    } cases[] = {
        {Analyzer({-80.5f, -81.25f, -79.0f}, AnalyzerAxis::Of(3, 375, 250, 0, 0)), '.', 3, 2,
         "250\t-80.5\r\n375\t-81.25\r\n500\t-79\r\n"},
        {Analyzer({-80.5f, -90.0f}, AnalyzerAxis::Of(2, 0, 0, 2e-5, 0)), '.', 2, 2,
         "0\t-80.5\r\n2E-05\t-90\r\n"},  // time axis 0 ... 20 us
        {Analyzer({-80.5f}, AnalyzerAxis::Of(1, 1235, 1, 0, 0)), ',', 1, 2, "1234,5\t-80,5\r\n"},
        // The analyzer's x is 64-bit, a network analyzer's 32-bit.
        {Analyzer({-20.0f}, AnalyzerAxis::Of(1, 1234567890.25, 0.25, 0, 0)), '.', 1, 2,
         "1234567890.125\t-20\r\n"},
        {networkIgnoresSymbols, '.', 2, 2, "1.5E+09\t0.1234568\r\n1.6E+09\t-4\r\n"},
        // Pairs use the first half of the axis; an odd count leaves an empty partner cell.
        {Analyzer(Count(8, 10), AnalyzerAxis::Of(8, 0, 0, 0, 4), true), '.', 4, 3,
         "0\t10\t11\r\n0.25\t12\t13\r\n0.5\t14\t15\r\n0.75\t16\t17\r\n"},
        {Analyzer({1.5f, -2.0f, 3.25f}, AnalyzerAxis::Of(3, 20, 20, 0, 0), true), ',', 2, 3,
         "10\t1,5\t-2\r\n20\t3,25\t\r\n"},
        {Network(Count(402), Count(201), true), '.', 201, 3, network201},
        // 3.5 rows round to 4, 2.5 to 2; a short stimulus block leaves x cells empty.
        {Network(Count(7), Count(10), true), '.', 4, 3,
         "1\t1\t2\r\n2\t3\t4\r\n3\t5\t6\r\n4\t7\t\r\n"},
        {Network(Count(5), Count(10), true), '.', 2, 3, "1\t1\t2\r\n2\t3\t4\r\n"},
        {Network(Count(7), Count(2), true), '.', 4, 3, "1\t1\t2\r\n2\t3\t4\r\n\t5\t6\r\n\t7\t\r\n"},
        {Network({0.5f, 0.25f, 0.125f}, {1e9f}, false), '.', 3, 2,
         "1E+09\t0.5\r\n\t0.25\r\n\t0.125\r\n"},
        // Symbol rows are symbols (QPSK 10, 01, 11, 00); 1.5 symbols round to 2.
        {Symbols({1, 0, 0, 1, 1, 1, 0, 0}, 2, AnalyzerAxis::Of(8, 0, 0, 0, 1)), '.', 4, 2,
         "1\t0\r\n0\t1\r\n1\t1\r\n0\t0\r\n"},
        {Symbols({1, 0, 0}, 2), '.', 2, 2, "1\t0\r\n0\t\r\n"},
        {Symbols({1, 0, 0, 1, 1, 1}, 4), '.', 2, 4, "1\t0\t0\t1\r\n1\t1\t\t\r\n"},
        {Symbols({1, 0, 0, 1, 1, 1}, 0), '.', 0, 0, ""},  // unknown width: no cells
        {Analyzer({}, {}), '.', 0, -1, ""},
        {Analyzer({}, {}, true), '.', 0, -1, ""},
        {Network({}, {}, false), '.', 0, -1, ""},
        {Network({}, {}, true), '.', 0, -1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 40));
        const TraceField field = GenTraceField(c.data);
        EXPECT_EQ(field.RowCount(), c.rows);
        if (c.columns >= 0) {
            EXPECT_EQ(field.ColumnCount(), static_cast<std::size_t>(c.columns));
        }
        EXPECT_EQ(TraceText(field, c.separator), c.text);
    }
}

TEST(TraceColumn, NumberIsTheCellValue) {
    const TraceDataSet data = Analyzer({-80.5f}, AnalyzerAxis::Of(1, 1e9 + 1, 1, 0, 0));
    const TraceField field = GenTraceField(data);
    EXPECT_EQ(field.columns[0].Number(0), 1e9 + 0.5);
    EXPECT_EQ(field.columns[1].Number(0), -80.5);
}

// The streamed text is TraceText's bytes, for every layout and across chunk seams (long
// traces are written in chunks on two cores), the same as printf cell by cell, and comes
// in pieces small enough never to hold a long trace's text whole.
TEST(WriteTraceText, StreamsTheSameBytesInBoundedPieces) {
    const auto analyzer = [](std::size_t n) {
        return Analyzer(Wave(n, -80), AnalyzerAxis::Of(n, 1e9, 1e8, 0, 0));
    };
    std::vector<uint8_t> bits(300001);
    for (std::size_t i = 0; i < bits.size(); ++i)
        bits[i] = static_cast<uint8_t>((i * 7) % 3 == 0);
    const std::size_t chunk = 64 * 1024;
    const std::size_t rows = 3 * chunk + 7;
    const TraceDataSet cases[] = {
        TraceDataSet{},
        analyzer(1),
        analyzer(chunk),
        analyzer(2 * chunk),
        analyzer(2 * chunk + 1),
        analyzer(5 * chunk + 3),
        Network(Wave(2 * rows - 1, 1), Count(rows, 1e6f), true),  // odd pair count
        Network(Wave(2 * rows, 1e3), Count(rows, 1e6f, 1e3f), true),
        Network(Wave(4, 1), Count(9, 1e6f), false),
        Symbols(bits, 3, AnalyzerAxis::Of(bits.size(), 0, 0, 0, 4)),
    };
    for (const TraceDataSet& data : cases) {
        const TraceField field = GenTraceField(data);
        SCOPED_TRACE(testing::Message() << field.rows << " rows");
        std::string streamed;
        std::size_t largest = 0;
        const Status status = WriteTraceText(field, ',', [&](std::string_view piece) {
            EXPECT_FALSE(piece.empty());
            largest = std::max(largest, piece.size());
            streamed.append(piece);
            return Status();
        });
        ASSERT_TRUE(status);
        EXPECT_TRUE(streamed == TraceText(field, ','));
        EXPECT_LE(largest, 8u << 20);
        if (!data.IsSymbolTable && data.values.size() % (data.IsPairs ? 2 : 1) == 0) {
            EXPECT_TRUE(TraceText(field, '.') == Printed(data));
        }
    }
}

TEST(WriteTraceText, StopsAtTheFirstFailedPiece) {
    const TraceDataSet data = Analyzer(std::vector<float>(6 * 64 * 1024, -80.0f),
                                       AnalyzerAxis::Of(6 * 64 * 1024, 1e9, 1e8, 0, 0));
    int pieces = 0;
    const Status status = WriteTraceText(GenTraceField(data), '.', [&](std::string_view) {
        ++pieces;
        return Status(fail("pipe closed"));
    });
    EXPECT_EQ(status.error(), "pipe closed");
    EXPECT_EQ(pieces, 1);
}

}  // namespace
}  // namespace benchcap::trace
