// Builds a trace data set from arbitrary bytes and checks the trace text against a
// reference written cell by cell with snprintf("%.7G" / "%.15G"); also every float and
// double found in the input is formatted both ways. Aborts on the first difference.
//
// Input: byte 0 = layout flags (bit 0 network, bit 1 pairs, bit 2 symbol table, bit 3
// comma separator), byte 1 = BitsPerSymbol (signed), byte 2 = share of the rest that
// forms the y values (little-endian floats, or symbol bits from bytes); the rest are the
// x values: a network trace's floats, or an analyzer axis (centre, span, sweep time as
// doubles, points per symbol as int32, x value count from the length).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>

#include "trace/general_number.h"
#include "trace/trace_data.h"
#include "trace/trace_field.h"
#include "trace/trace_text.h"

namespace {

using namespace benchcap::trace;

std::string Reference(double v, const char* format, char separator) {
    char buf[64];
    const int n = std::snprintf(buf, sizeof buf, format, v);
    std::string s(buf, static_cast<std::size_t>(n));
    for (char& c : s) {
        if (c == '.') {
            c = separator;
        }
    }
    return s;
}

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "mismatch: %s\n", what);
        std::abort();
    }
}

std::string ReferenceText(const TraceField& field, char separator) {
    std::string text;
    for (std::size_t r = 0; r < field.RowCount(); ++r) {
        for (std::size_t c = 0; c < field.ColumnCount(); ++c) {
            if (c > 0) {
                text += '\t';
            }
            const TraceColumn& col = field.columns[c];
            if (!col.HasCell(r)) {
                continue;
            }
            switch (col.kind) {
                case CellKind::F32:
                    text += Reference(col.F32(r), "%.7G", separator);
                    break;
                case CellKind::Axis:
                    text += Reference(col.Axis(r), "%.15G", separator);
                    break;
                case CellKind::Bit:
                    text += col.Bit(r) != 0 ? '1' : '0';
                    break;
            }
        }
        text += "\r\n";
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 3) {
        return 0;
    }
    const uint8_t flags = data[0];
    const char separator = (flags & 8) != 0 ? ',' : '.';
    const std::span<const uint8_t> rest(data + 3, size - 3);

    char buf[kGeneralTextRoom];
    for (std::size_t i = 0; i + 4 <= rest.size(); i += 4) {
        float f;
        std::memcpy(&f, rest.data() + i, 4);
        Check(std::string(buf, WriteGeneral(buf, f, separator)) == Reference(f, "%.7G", separator),
              "float");
    }
    for (std::size_t i = 0; i + 8 <= rest.size(); i += 8) {
        double d;
        std::memcpy(&d, rest.data() + i, 8);
        Check(std::string(buf, WriteGeneral(buf, d, separator)) == Reference(d, "%.15G", separator),
              "double");
    }

    TraceDataSet set;
    set.IsNetworkTrace = (flags & 1) != 0;
    set.IsPairs = (flags & 2) != 0;
    set.IsSymbolTable = (flags & 4) != 0;
    set.BitsPerSymbol = static_cast<int8_t>(data[1]);
    const std::size_t split = rest.size() * data[2] / 255;
    const auto ys = rest.first(split);
    const auto xs = rest.subspan(split);
    if (set.IsSymbolTable && !set.IsNetworkTrace) {
        for (uint8_t b : ys) {
            set.bits.push_back(b & 1);
        }
    } else {
        set.values = DecodeReal32(ys);
    }
    if (set.IsNetworkTrace) {
        set.axis32 = DecodeReal32(xs);
    } else {
        // The axis settings as the instrument might answer them, any number of x values.
        double settings[3] = {};
        std::memcpy(settings, xs.data(), std::min(xs.size(), sizeof settings));
        int32_t pointsPerSymbol = 0;
        if (xs.size() >= sizeof settings + 4) {
            std::memcpy(&pointsPerSymbol, xs.data() + sizeof settings, 4);
        }
        // Fewer x values than rows leave empty cells; short inputs get one per value.
        const std::size_t count = xs.size() >= 28 ? xs.size() - 28 : set.ValueCount();
        set.axis = AnalyzerAxis::Of(count, settings[0], settings[1], settings[2], pointsPerSymbol);
    }
    const TraceField field = GenTraceField(set);
    Check(TraceText(field, separator) == ReferenceText(field, separator), "trace text");
    return 0;
}
