#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "trace/trace_data.h"

namespace benchcap::trace {

// What a column of the trace table holds; it decides how a cell is written.
enum class CellKind : uint8_t {
    F32,   // 32-bit float, 7 significant digits
    Axis,  // analyzer x value, computed (AnalyzerAxis), 64-bit: 15 significant digits
    Bit,   // symbol bit, "0" or "1"
};

// One column of the trace table: a strided view into the data set, no copy, or an
// analyzer's computed axis. Row r (0-based) holds element r * stride (axis value r); rows
// from `filled` on are empty cells.
struct TraceColumn {
    CellKind kind = CellKind::F32;
    const float* f32 = nullptr;
    const uint8_t* bits = nullptr;
    AnalyzerAxis axis;
    std::size_t stride = 1;
    std::size_t filled = 0;

    bool HasCell(std::size_t row) const { return row < filled; }
    float F32(std::size_t row) const { return f32[row * stride]; }
    double Axis(std::size_t row) const { return axis.at(row); }
    uint8_t Bit(std::size_t row) const { return bits[row * stride]; }
    // The cell as a number (what a spreadsheet receives); call only where HasCell.
    double Number(std::size_t row) const;
};

// The trace table (TraceField): rows 1..RowCount() and columns 1..ColumnCount() of the
// trace text, held as typed column views. It refers into the data set it was made from
// and is valid while that data set lives unchanged.
struct TraceField {
    std::size_t rows = 0;
    std::vector<TraceColumn> columns;

    std::size_t RowCount() const { return rows; }
    std::size_t ColumnCount() const { return columns.size(); }
};

// Builds the trace table for the layout of `data` (network or analyzer trace, pairs,
// symbol table, plain). Row counts that are halves or quotients are rounded to the
// nearest integer, ties to the even one; a cell whose source lies beyond its array (an
// odd number of paired values, a stimulus block shorter than the rows) is empty rather
// than read out of bounds. A symbol table without a positive BitsPerSymbol has no cells.
TraceField GenTraceField(const TraceDataSet& data);

}  // namespace benchcap::trace
