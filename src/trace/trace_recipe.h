#pragma once

// Traces of instruments the model table does not know, read by the trace section of their
// recipe row (recipes/recipe_book.h): the same state, table and text as a trace of
// Benchcap's own families, so the window, the TXT file, the clipboard and the spreadsheet
// take it unchanged.

#include <cstddef>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "bus/session.h"
#include "recipes/recipe_book.h"
#include "trace/trace_command.h"

namespace benchcap::trace {

// Bounds on one answer, so a runaway instrument cannot take the memory.
inline constexpr std::size_t kMaxRecipeTraceBytes = std::size_t{64} << 20;
inline constexpr std::size_t kMaxRecipeTraceValues = std::size_t{4} << 20;

// The values of a data answer (the payload without block header or final line feed) in
// the row's format: ASCII numbers separated by commas, blanks or line ends, or IEEE 754
// singles or doubles in the row's byte order. A failure says what is wrong in a phrase
// (no recipe name: the caller adds it).
Result<std::vector<float>> DecodeTraceAnswer(std::string_view payload, const recipes::Trace& trace);

// The x axis of `count` values from the row's axis answers: start..stop, start + i*step,
// start + i, or the index without a start. Axes whose points would all lie on one x value
// (start equal to stop, a step of 0, for more than one value) are refused in a phrase, as
// are steps too large for a number.
Result<AnalyzerAxis> RecipeAxis(std::optional<double> start, std::optional<double> stop,
                                std::optional<double> step, std::size_t count);

// The row that reads the traces of `instrument` (identified, `idnAnswer` its *IDN? answer):
// the row named `forcedName`, or else the first matching row, when it has a trace section
// and the model table does not know the instrument (its own families are read as before);
// otherwise null.
const recipes::Recipe* TraceRecipeFor(const recipes::RecipeBook& book,
                                      const bus::CurrentInstrument& instrument,
                                      std::string_view idnAnswer, std::string_view forcedName = {});

// Trace `traceNumber` of the instrument the session has selected and identified, by the
// trace section of `recipe` (which must have one): the prepare commands and queries with
// {n} replaced by the number, the axis queries, the data query with its framing, each
// bounded by the row's timeout_s; then back to local. On success state.data (values and an
// AnalyzerAxis from start..stop, start + i*step, or the index), state.field and, for
// TraceTextUse::InState, state.text are replaced; otherwise the state stays as it was.
// A number outside 1..traces gives TraceOutcome::NumberNotSupported with the trace
// command's text; a failure says "recipe NAME, step STEP: what happened; what to do"; a
// stop request ends with kInterruptedMessage. `status` receives the status-line texts.
TraceCommandResult RunTraceRecipe(bus::Session& session, const recipes::Recipe& recipe,
                                  int traceNumber, char decimalSeparator, TraceState& state,
                                  const std::function<void(std::string_view)>& status = {},
                                  TraceTextUse textUse = TraceTextUse::InState);

}  // namespace benchcap::trace
