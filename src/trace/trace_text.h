#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "base/result.h"
#include "trace/trace_field.h"

namespace benchcap::trace {

// The trace text (TraceText) of a trace table: one line per row, cells separated by TAB,
// every line ending in CR LF, each number in general form ("%.7G" for 32-bit, "%.15G" for
// 64-bit values) with `decimalSeparator` ('.' or ',', from the user's regional settings),
// symbol bits as "0"/"1", empty cells as nothing. Leading and trailing blanks of the whole
// text are removed (the cells never produce any).
std::string TraceText(const TraceField& field, char decimalSeparator);

// Receives the trace text in order, a piece at a time; a failure stops the writing.
using TraceTextSink = std::function<Status(std::string_view piece)>;

// The same bytes as TraceText, handed to `sink` in pieces of a few megabytes instead of
// built whole: what a file or a pipe gets without the text ever being in memory. Returns
// the sink's first failure.
Status WriteTraceText(const TraceField& field, char decimalSeparator, const TraceTextSink& sink);

// What a saved TXT file holds: the trace text and one further CR LF.
std::string TraceFileContent(std::string_view traceText);

}  // namespace benchcap::trace
