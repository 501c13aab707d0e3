#include "trace/trace_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "support/golden.h"
#include "trace/general_number.h"
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

// The x values as they were once stored, one array per trace: the computed axis must give
// every one of them to the bit, or the trace text would change.
std::vector<double> StoredAxis(std::size_t count, double centre, double span, double sweepTime,
                               int32_t pointsPerSymbol) {
    std::vector<double> axis(count);
    const double n = count > 1 ? static_cast<double>(count - 1) : 1.0;
    if (span != 0) {
        const double start = centre - span / 2;
        for (std::size_t i = 0; i < count; ++i) {
            axis[i] = (static_cast<double>(i) / n) * span + start;
        }
    } else if (sweepTime != 0) {
        for (std::size_t i = 0; i < count; ++i) {
            axis[i] = (static_cast<double>(i) / n) * sweepTime;
        }
    } else {
        const double p = pointsPerSymbol > 0 ? static_cast<double>(pointsPerSymbol) : 1.0;
        for (std::size_t i = 0; i < count; ++i) {
            axis[i] = static_cast<double>(i) / p;
        }
    }
    return axis;
}

TEST(AnalyzerAxis, ComputedValuesAreTheStoredOnesBitForBit) {
    // Centre, span, sweep time and points per symbol: frequency axes whatever the sweep time
    // (a span far below the centre's precision, a negative start, a span reported
    // negative), time axes (a negative sweep time: -0 at the start), symbol axes.
    std::istringstream rows(
        "1e9 1e8 0.02 0  1e9 1e7 0 0  2.4e9 83.5e6 0 0  433.92e6 0.1 0 0  1e-3 3e-7 0 0  "
        "0 1e9 0 0  5e9 -2e6 0 0  0.3333333333333333 0.14285714285714285 0 3  1e300 1e300 0 0  "
        "1e9 inf 0 0  1e9 nan 0 0  0 0 0.02 0  1e9 0 0.3333333333333333 7  0 0 123.456 0  "
        "0 0 -0.5 0  0 0 1e-9 0  0 0 nan 0  0 0 0 4  0 0 0 3  0 0 0 7  0 0 0 1  0 0 0 0  "
        "0 0 0 -5  0 0 0 2147483647");
    struct Settings {
        double centre, span, sweepTime;
        int32_t pointsPerSymbol;
    };
    std::vector<Settings> settings;
    for (std::string c, s, t, p; rows >> c >> s >> t >> p;)
        settings.push_back({std::strtod(c.c_str(), nullptr), std::strtod(s.c_str(), nullptr),
                            std::strtod(t.c_str(), nullptr), std::stoi(p)});
    ASSERT_EQ(settings.size(), 24u);
    const std::size_t counts[] = {0, 1, 2, 3, 7, 401, 501, 1001, 8192, 32769, 1000001};
    for (const Settings& s : settings) {
        for (const std::size_t count : counts) {
            SCOPED_TRACE(testing::Message() << count << " values, centre " << s.centre << ", span "
                                            << s.span << ", sweep " << s.sweepTime
                                            << ", points per symbol " << s.pointsPerSymbol);
            const AnalyzerAxis axis =
                AnalyzerAxis::Of(count, s.centre, s.span, s.sweepTime, s.pointsPerSymbol);
            const std::vector<double> stored =
                StoredAxis(count, s.centre, s.span, s.sweepTime, s.pointsPerSymbol);
            ASSERT_EQ(axis.count, stored.size());
            std::size_t differing = 0;
            std::size_t first = 0;
            for (std::size_t i = 0; i < count; ++i) {
                if (std::bit_cast<uint64_t>(axis.at(i)) != std::bit_cast<uint64_t>(stored[i])) {
                    first = differing++ == 0 ? i : first;
                }
            }
            EXPECT_EQ(differing, 0u) << "first at index " << first;
        }
    }
}

// Compares our text with C's "%.7G" (float) or "%.15G" (double) in the C locale; counts
// mismatches and reports the first few, so a broken path shows its values.
struct Comparer {
    template <class T>
    void operator()(T v) {
        char c[64];
        std::snprintf(c, sizeof c, "%.*G", std::is_same_v<T, float> ? 7 : 15,
                      static_cast<double>(v));
        const std::string ours = FormatGeneral(v);
        if (ours != c && ++failures <= 10)
            ADD_FAILURE() << std::hexfloat << static_cast<double>(v) << ": printf " << c
                          << ", ours " << ours;
        ++checked;
    }
    long failures = 0;
    long checked = 0;
};

TEST(GeneralNumber, SpecialValuesRoundingAndExponentEdgesMatchPrintf) {
    Comparer cmp;
    // Written as text, read with strtof / strtod: each value and its negative, as float
    // and as double.
    std::istringstream values(
        "0 inf nan -80.5 2e-5 4e-5 9.9999995 999999.95 9999999.5 0.0001 9.99999e-5 9.999999e-5 "
        "1e-5 1e7 9999999.0 1048576.5 1048577.5 8388607.5 0.5 1.0 3.4028235e38 1.1754944e-38 "
        "1e-45 1.17549421e-38 1.5e20 1e300 1.25e-300 999999999999999.5 99999999999999.95 "
        "100000000000000.5 100000000000001.5 1e15 1e14 9.999999999999995e-5 5e-324 "
        "2.2250738585072014e-308 1.7976931348623157e308 0.1 0.3333333333333333");
    for (std::string text; values >> text;) {
        for (const std::string& signed_ : {text, "-" + text}) {
            cmp(std::strtof(signed_.c_str(), nullptr));
            cmp(std::strtod(signed_.c_str(), nullptr));
        }
    }
    // Each side of every power of ten a float or double can be near.
    for (int x = -46; x <= 39; ++x) {
        float v = std::pow(10.0f, static_cast<float>(x));
        for (int i = 0; i < 4; ++i)
            v = std::nextafter(v, 0.0f);
        for (int i = 0; i < 8; ++i, v = std::nextafter(v, std::numeric_limits<float>::max()))
            cmp(v);
    }
    for (int x = -324; x <= 308; ++x) {
        double v = std::strtod(("1e" + std::to_string(x)).c_str(), nullptr);
        for (int i = 0; i < 4; ++i)
            v = std::nextafter(v, 0.0);
        for (int i = 0; i < 8; ++i, v = std::nextafter(v, std::numeric_limits<double>::max()))
            cmp(v);
    }
    // Values that lie on or next to a rounding tie at the 7th / 15th digit.
    for (uint32_t m = 1000000; m < 10000000; m += 99991) {
        for (int x = -12; x <= 12; ++x) {
            const double tie = (m + 0.5) * std::pow(10.0, x);
            const float v = static_cast<float>(tie);
            for (float f : {std::nextafter(v, 0.0f), v, std::nextafter(v, 1e38f)})
                cmp(f);
            for (double d : {tie, std::nextafter(tie, 0.0), std::nextafter(tie, 1e300)})
                cmp(d);
        }
    }
    EXPECT_EQ(cmp.failures, 0);
}

TEST(GeneralNumber, MillionsOfRandomBitPatternsMatchPrintf) {
    std::mt19937_64 rng(20240611);
    Comparer cmp;
    for (int i = 0; i < 2000000; ++i)
        cmp(std::bit_cast<float>(static_cast<uint32_t>(rng())));
    for (int i = 0; i < 1000000; ++i)
        cmp(std::bit_cast<double>(rng()));
    EXPECT_EQ(cmp.failures, 0) << "of " << cmp.checked;
}

}  // namespace
}  // namespace benchcap::trace
