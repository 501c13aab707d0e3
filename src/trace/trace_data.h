#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace benchcap::trace {

// The x axis of an analyzer trace, computed from its settings instead of stored: a long
// trace costs no memory for it. x value i is (i / divisor) * scale + start, in 64-bit
// floating point and in that order of operations:
// - frequency axis (span not 0): divisor = count - 1 (1 for a single value), scale = span,
//   start = centre - span/2;
// - time axis (sweep time not 0): divisor = count - 1, scale = sweep time, start = -0.0;
// - symbol axis: divisor = points per symbol, scale = 1, start = -0.0.
// Multiplying by 1 and adding -0.0 change no double (not even -0.0 or NaN), so the time
// and symbol axes give exactly index / divisor * sweep time and index / points per symbol.
struct AnalyzerAxis {
    double start = -0.0;
    double scale = 1.0;
    double divisor = 1.0;
    std::size_t count = 0;  // x values: one per trace value (per bit of a symbol table)

    double at(std::size_t i) const { return (static_cast<double>(i) / divisor) * scale + start; }

    // The axis of an analyzer trace with `count` values: a frequency axis over centre +-
    // span/2 when the span is not 0, else a time axis from 0 to the sweep time when that
    // is not 0, else a symbol axis (index / points per symbol). A single value lies at the
    // start of its axis; a symbol axis without a usable points per symbol (0 or less)
    // counts points instead.
    static AnalyzerAxis Of(std::size_t count, double centre, double span, double sweepTime,
                           int32_t pointsPerSymbol);
};

// One trace as read from an instrument, in typed arrays: a million points cost 4 bytes
// per value, plus 4 bytes per x value for a network analyzer; an analyzer's x values are
// computed (AnalyzerAxis).
//
// Layouts:
// - plain analyzer trace: `values` and `axis`, one x value per value;
// - paired analyzer trace (`IsPairs`): two adjacent values per point; `axis` spans all
//   values like a plain trace, and the table uses its first half;
// - symbol table (`IsSymbolTable`): `bits` holds 0 or 1, `BitsPerSymbol` per symbol, the
//   most significant used bit first (bits[j] is trace value j + 1 of a 1-based symbol
//   table); `axis` has one x value per bit; `values` is empty;
// - network trace (`IsNetworkTrace`): `values` and `axis32` (the stimulus values), both
//   32-bit as the instrument sends them; `IsPairs` when their lengths differ.
struct TraceDataSet {
    std::vector<float> values;  // y values (TraceValues), 32-bit
    std::vector<uint8_t> bits;  // symbol bits (TraceValues of a symbol table)
    AnalyzerAxis axis;          // x values of analyzer traces (TraceAxis)
    std::vector<float> axis32;  // x values of network traces (TraceAxis)
    bool IsPairs = false;
    bool IsSymbolTable = false;
    int16_t BitsPerSymbol = 0;
    bool IsNetworkTrace = false;

    // Number of y values (TraceValues): bits of a symbol table, otherwise values.
    std::size_t ValueCount() const {
        return IsSymbolTable && !IsNetworkTrace ? bits.size() : values.size();
    }
    bool Empty() const { return values.empty() && bits.empty(); }
};

// The floats of a "FORM REAL,32" block payload: IEEE 754 single precision, least
// significant byte first. A trailing part of a float (payload length not a multiple of
// four) is not a value and is dropped.
std::vector<float> DecodeReal32(std::span<const std::byte> payload);
std::vector<float> DecodeReal32(std::span<const uint8_t> payload);

}  // namespace benchcap::trace
