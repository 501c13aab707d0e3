#pragma once

// A plain trace table for the office tests: a computed 64-bit x axis from x0 in steps of
// 20 kHz, and 32-bit y values from y0 in steps of yStep.

#include <cstddef>
#include <vector>

#include "trace/trace_data.h"
#include "trace/trace_field.h"

namespace benchcap::test {

struct Table {
    Table(std::size_t rows, double x0, float y0, float yStep) : x(rows), y(rows) {
        const trace::AnalyzerAxis axis{x0, 2.0e4, 1.0, rows};
        for (std::size_t r = 0; r < rows; ++r) {
            x[r] = axis.at(r);
            y[r] = y0 + yStep * static_cast<float>(r);
        }
        field.rows = rows;
        field.columns.push_back({trace::CellKind::Axis, nullptr, nullptr, axis, 1, rows});
        field.columns.push_back({trace::CellKind::F32, y.data(), nullptr, {}, 1, rows});
    }
    std::vector<double> x;
    std::vector<float> y;
    trace::TraceField field;
};

}  // namespace benchcap::test
