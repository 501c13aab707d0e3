#include "trace/trace_field.h"

namespace benchcap::trace {
namespace {

// count / divisor rounded to the nearest integer, ties to the even one.
std::size_t QuotientHalfEven(std::size_t count, std::size_t divisor) {
    std::size_t q = count / divisor;
    const std::size_t twice = 2 * (count % divisor);
    if (twice > divisor || (twice == divisor && (q & 1) != 0)) {
        ++q;
    }
    return q;
}

// Rows r with offset + r * stride < size.
std::size_t Reachable(std::size_t size, std::size_t offset, std::size_t stride) {
    return size > offset ? (size - offset + stride - 1) / stride : 0;
}

TraceColumn Column32(const std::vector<float>& v, std::size_t offset = 0, std::size_t stride = 1) {
    TraceColumn c;
    c.kind = CellKind::F32;
    c.f32 = v.data() + (offset < v.size() ? offset : 0);
    c.stride = stride;
    c.filled = Reachable(v.size(), offset, stride);
    return c;
}

TraceColumn AxisColumn(const AnalyzerAxis& axis) {
    TraceColumn c;
    c.kind = CellKind::Axis;
    c.axis = axis;
    c.filled = axis.count;
    return c;
}

}  // namespace

double TraceColumn::Number(std::size_t row) const {
    switch (kind) {
        case CellKind::F32:
            return F32(row);
        case CellKind::Axis:
            return Axis(row);
        case CellKind::Bit:
            return Bit(row);
    }
    return 0;
}

TraceField GenTraceField(const TraceDataSet& data) {
    TraceField field;
    const std::size_t n = data.values.size();
    if (data.IsNetworkTrace) {
        if (data.IsPairs) {
            field.rows = QuotientHalfEven(n, 2);
            field.columns = {Column32(data.axis32), Column32(data.values, 0, 2),
                             Column32(data.values, 1, 2)};
        } else {
            field.rows = n;
            field.columns = {Column32(data.axis32), Column32(data.values)};
        }
    } else if (data.IsPairs) {
        field.rows = QuotientHalfEven(n, 2);
        field.columns = {AxisColumn(data.axis), Column32(data.values, 0, 2),
                         Column32(data.values, 1, 2)};
    } else if (data.IsSymbolTable) {
        if (data.BitsPerSymbol <= 0) {
            return field;
        }
        const auto b = static_cast<std::size_t>(data.BitsPerSymbol);
        field.rows = QuotientHalfEven(data.bits.size(), b);
        field.columns.resize(b);
        for (std::size_t j = 0; j < b; ++j) {
            TraceColumn& c = field.columns[j];
            c.kind = CellKind::Bit;
            c.bits = data.bits.data() + (j < data.bits.size() ? j : 0);
            c.stride = b;
            c.filled = Reachable(data.bits.size(), j, b);
        }
    } else {
        field.rows = n;
        field.columns = {AxisColumn(data.axis), Column32(data.values)};
    }
    return field;
}

}  // namespace benchcap::trace
