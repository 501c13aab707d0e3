#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "trace/trace_data.h"
#include "trace/trace_field.h"
#include "trace/trace_text.h"

namespace benchcap::trace {
namespace {

TEST(TraceText, PlainAnalyzerLinesEndInCrLf) {
    TraceDataSet data;
    data.values = {-80.5f, -90.0f};
    data.axis = AnalyzerAxis::Of(2, 0, 0, 2e-5, 0);  // time axis 0 ... 20 us
    EXPECT_EQ(TraceText(GenTraceField(data), '.'), "0\t-80.5\r\n2E-05\t-90\r\n");
}

TEST(TraceText, RegionalCommaSeparator) {
    TraceDataSet data;
    data.values = {-80.5f};
    data.axis = AnalyzerAxis::Of(1, 1235, 1, 0, 0);  // starts at 1234.5
    EXPECT_EQ(TraceText(GenTraceField(data), ','), "1234,5\t-80,5\r\n");
}

TEST(TraceText, AnalyzerXIs64BitNetworkXIs32Bit) {
    TraceDataSet analyzer;
    analyzer.values = {-20.0f};
    analyzer.axis = AnalyzerAxis::Of(1, 1234567890.25, 0.25, 0, 0);  // starts at ...890.125
    EXPECT_EQ(TraceText(GenTraceField(analyzer), '.'), "1234567890.125\t-20\r\n");

    TraceDataSet network;
    network.IsNetworkTrace = true;
    network.values = {0.123456789f};
    network.axis32 = {1.5e9f};
    EXPECT_EQ(TraceText(GenTraceField(network), '.'), "1.5E+09\t0.1234568\r\n");
}

TEST(TraceText, EveryLayoutKeepsItsEmptyCells) {
    // Rows whose cells all exist take a loop of their own per layout; the rest do not.
    TraceDataSet pairs;
    pairs.IsPairs = true;
    pairs.values = {1.5f, -2.0f, 3.25f};
    pairs.axis = AnalyzerAxis::Of(3, 20, 20, 0, 0);  // 10, 20, 30
    EXPECT_EQ(TraceText(GenTraceField(pairs), ','), "10\t1,5\t-2\r\n20\t3,25\t\r\n");

    TraceDataSet network;
    network.IsNetworkTrace = true;
    network.values = {0.5f, 0.25f, 0.125f};
    network.axis32 = {1e9f};
    EXPECT_EQ(TraceText(GenTraceField(network), '.'), "1E+09\t0.5\r\n\t0.25\r\n\t0.125\r\n");

    TraceDataSet symbols;
    symbols.IsSymbolTable = true;
    symbols.BitsPerSymbol = 2;
    symbols.bits = {1, 0, 0};
    EXPECT_EQ(TraceText(GenTraceField(symbols), '.'), "1\t0\r\n0\t\r\n");
}

TEST(TraceText, LargeTraceIsWrittenCompletely) {
    // More rows than one internal block holds: nothing lost or doubled at the seams.
    TraceDataSet data;
    const std::size_t n = 100001;
    data.values.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        data.values[i] = static_cast<float>(i % 1000) * -0.125f;
    }
    data.axis = AnalyzerAxis::Of(n, 1e9, 1e8, 0, 0);
    const std::string text = TraceText(GenTraceField(data), '.');
    std::size_t lines = 0;
    for (std::size_t pos = text.find("\r\n"); pos != std::string::npos;
         pos = text.find("\r\n", pos + 2)) {
        ++lines;
    }
    EXPECT_EQ(lines, n);
    EXPECT_EQ(text.substr(0, 13), "950000000\t-0\r");
    EXPECT_EQ(text.substr(text.size() - 16), "\n1050000000\t-0\r\n");
}

TEST(TraceText, LongTraceWrittenInChunksIsTheSameText) {
    // Long traces are written in chunks on two cores; the text must be what one pass
    // gives, line by line, across every chunk seam.
    TraceDataSet data;
    data.IsNetworkTrace = true;
    data.IsPairs = true;
    const std::size_t rows = 3 * 64 * 1024 + 7;
    data.values.resize(2 * rows);
    data.axis32.resize(rows);
    for (std::size_t i = 0; i < 2 * rows; ++i) {
        data.values[i] = static_cast<float>(std::sin(0.001 * static_cast<double>(i)) * 1e3);
    }
    for (std::size_t k = 0; k < rows; ++k) {
        data.axis32[k] = 1e6f + static_cast<float>(k) * 1e3f;
    }
    std::string expected;
    char cell[64];
    for (std::size_t k = 0; k < rows; ++k) {
        for (const float v : {data.axis32[k], data.values[2 * k], data.values[2 * k + 1]}) {
            std::snprintf(cell, sizeof cell, "%.7G\t", static_cast<double>(v));
            expected += cell;
        }
        expected.back() = '\r';
        expected += '\n';
    }
    EXPECT_TRUE(TraceText(GenTraceField(data), '.') == expected);
}

// The streamed text is TraceText's bytes, for every layout and across chunk seams, and
// comes in pieces small enough never to hold a long trace's text whole.
TEST(WriteTraceText, StreamsTheSameBytesInBoundedPieces) {
    const auto analyzer = [](std::size_t n) {
        TraceDataSet data;
        data.values.resize(n);
        for (std::size_t i = 0; i < n; ++i) {
            data.values[i] = static_cast<float>(std::cos(0.01 * static_cast<double>(i)) * -80);
        }
        data.axis = AnalyzerAxis::Of(n, 1e9, 1e8, 0, 0);
        return data;
    };
    const auto network = [](std::size_t rows, std::size_t values) {
        TraceDataSet data;
        data.IsNetworkTrace = true;
        data.values.resize(values);
        for (std::size_t i = 0; i < values; ++i) {
            data.values[i] = static_cast<float>(i % 977) * 0.001f;
        }
        data.axis32.resize(rows);
        for (std::size_t k = 0; k < rows; ++k) {
            data.axis32[k] = 1e6f + static_cast<float>(k);
        }
        data.IsPairs = values != rows;
        return data;
    };
    TraceDataSet symbols;
    symbols.IsSymbolTable = true;
    symbols.BitsPerSymbol = 3;
    symbols.bits.resize(300001);
    for (std::size_t i = 0; i < symbols.bits.size(); ++i) {
        symbols.bits[i] = static_cast<uint8_t>((i * 7) % 3 == 0);
    }
    symbols.axis = AnalyzerAxis::Of(symbols.bits.size(), 0, 0, 0, 4);

    const std::size_t chunk = 64 * 1024;
    const TraceDataSet cases[] = {
        TraceDataSet{},
        analyzer(1),
        analyzer(chunk),
        analyzer(2 * chunk),
        analyzer(2 * chunk + 1),
        analyzer(5 * chunk + 3),
        network(3 * chunk + 7, 2 * (3 * chunk + 7) - 1),  // odd pair count: empty last cell
        network(9, 4),
        symbols,
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
    }
}

TEST(WriteTraceText, StopsAtTheFirstFailedPiece) {
    TraceDataSet data;
    data.values.assign(6 * 64 * 1024, -80.0f);
    data.axis = AnalyzerAxis::Of(data.values.size(), 1e9, 1e8, 0, 0);
    int pieces = 0;
    const Status status = WriteTraceText(GenTraceField(data), '.', [&](std::string_view) {
        ++pieces;
        return Status(fail("pipe closed"));
    });
    EXPECT_EQ(status.error(), "pipe closed");
    EXPECT_EQ(pieces, 1);
}

TEST(TraceFileContent, EndsWithAnEmptyLine) {
    EXPECT_EQ(TraceFileContent("250\t-80.5\r\n"), "250\t-80.5\r\n\r\n");
    EXPECT_EQ(TraceFileContent(""), "\r\n");
}

}  // namespace
}  // namespace benchcap::trace
