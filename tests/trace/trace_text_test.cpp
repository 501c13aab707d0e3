#include "trace/trace_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "support/golden.h"
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

// Numbers "a,b,c" or a range "a..b".
template <class T>
std::vector<T> List(const std::string& text) {
    std::vector<T> v;
    if (const size_t dots = text.find(".."); dots != std::string::npos) {
        for (int i = std::stoi(text); i <= std::stoi(text.substr(dots + 2)); ++i)
            v.push_back(static_cast<T>(i));
        return v;
    }
    std::istringstream in(text);
    for (std::string item; std::getline(in, item, ',');)
        v.push_back(static_cast<T>(std::stod(item)));
    return v;
}

// "analyzer|network|symbols [pairs] [comma] [values LIST] [axis N,CENTRE,SPAN,SWEEP,PPS]
// [stimulus LIST] [bits LIST] [width N]": the rows and columns of its table and its text,
// a tab shown as \t and a carriage return as \r.
std::string Table(const std::string& input) {
    std::istringstream in(input);
    std::string kind, word, arg;
    in >> kind;
    TraceDataSet d;
    d.IsNetworkTrace = kind == "network";
    d.IsSymbolTable = kind == "symbols";
    char separator = '.';
    while (in >> word) {
        if (word == "pairs" || word == "symbols" || word == "comma") {
            d.IsPairs = d.IsPairs || word == "pairs";
            d.IsSymbolTable = d.IsSymbolTable || word == "symbols";
            separator = word == "comma" ? ',' : separator;
            continue;
        }
        in >> arg;
        if (word == "values")
            d.values = List<float>(arg);
        else if (word == "stimulus")
            d.axis32 = List<float>(arg);
        else if (word == "bits")
            d.bits = List<uint8_t>(arg);
        else if (word == "width")
            d.BitsPerSymbol = static_cast<int16_t>(std::stoi(arg));
        else if (const std::vector<double> a = List<double>(arg); word == "axis")
            d.axis = AnalyzerAxis::Of(static_cast<std::size_t>(a[0]), a[1], a[2], a[3],
                                      static_cast<int32_t>(a[4]));
    }
    const TraceField field = GenTraceField(d);
    std::string out = "rows " + std::to_string(field.RowCount()) + " columns " +
                      std::to_string(field.ColumnCount()) + "\n";
    for (const char c : TraceText(field, separator))
        out += c == '\t' ? "\\t" : c == '\r' ? "\\r" : std::string(1, c);
    return out;
}

TEST(TraceText, EveryLayoutRowByRowWithItsEmptyCells) {
    test::checkGolden("golden/trace-text.txt", Table);
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
