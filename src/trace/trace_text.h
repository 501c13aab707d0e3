#pragma once

#include <string>
#include <string_view>

#include "trace/trace_field.h"

namespace benchcap::trace {

// The trace text (TraceText) of a trace table: one line per row, cells separated by TAB,
// every line ending in CR LF, each number in general form ("%.7G" for 32-bit, "%.15G" for
// 64-bit values) with `decimalSeparator` ('.' or ',', from the user's regional settings),
// symbol bits as "0"/"1", empty cells as nothing. Leading and trailing blanks of the whole
// text are removed (the cells never produce any).
std::string TraceText(const TraceField& field, char decimalSeparator);

// What a saved TXT file holds: the trace text and one further CR LF.
std::string TraceFileContent(std::string_view traceText);

}  // namespace benchcap::trace
