#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "base/output_file.h"
#include "base/result.h"
#include "bus/session.h"
#include "bus/user_interface.h"
#include "trace/trace_data.h"
#include "trace/trace_field.h"

namespace benchcap::trace {

// The trace state the main window keeps between trace commands: the data set, its table
// (views into the data set) and its text. Not copyable: the table points into the data.
struct TraceState {
    TraceState() = default;
    TraceState(const TraceState&) = delete;
    TraceState& operator=(const TraceState&) = delete;
    // A read into a state of its own is handed over whole (the window's bus thread).
    TraceState(TraceState&&) = default;
    TraceState& operator=(TraceState&&) = default;

    TraceDataSet data;
    TraceField field;
    std::string text;       // TraceText
    bool hasTrace = false;  // a trace command has succeeded at least once
};

// How a trace command ended, and where its message belongs.
enum class TraceOutcome {
    Done,                // a new trace is in the state
    NumberNotSupported,  // error label: "Trace 4 is not supported by the instrument!"
    NotSupported,        // message box "ERROR:": "Trace data is not supported for KLD";
                         // status line "trace data not supported."
    NotActivated,        // error label: "Trace 1 is not activated!"
    Failed,              // error label: why the read failed; the previous trace stays
};

struct TraceCommandResult {
    TraceOutcome outcome = TraceOutcome::Failed;
    // Ok for Done; otherwise the text for the label or box, and its kind (a stop is no
    // fault to show).
    Status status;
    std::string notice;  // a box the acquisition showed ("unknown numerical format!")
    bool isNetworkTrace = false;
};

// Whether a trace command builds the trace text in the state (the window shows and copies
// it) or leaves it to be streamed from the table into a file or a pipe (WriteTraceText,
// WriteTraceFile), so a long trace's text is never in memory whole.
enum class TraceTextUse { InState, Streamed };

// Highest trace number of a model: its family's trace count, 4 for a name the model table
// lacks.
int HighestTraceNumber(const std::string& modelName);

// The window-free core of the trace command for trace `traceNumber`. Call it after
// InitDevice (the session's record selected, opened and identified). It checks the trace
// number and full support, reads the trace as the model table says the family's trace
// readout is (a network analyzer's channel, an analyzer's trace, or nothing),
// returns the instrument to local, and on success replaces state.data, state.field and
// state.text (cells written with `decimalSeparator`; empty for TraceTextUse::Streamed).
// `status` receives the status-line
// texts ("reading trace...", "reading finished", "idle", "trace data not supported.").
TraceCommandResult RunTraceCommand(bus::Session& session, bus::UserInterface& ui, int traceNumber,
                                   char decimalSeparator, TraceState& state,
                                   const std::function<void(std::string_view)>& status = {},
                                   TraceTextUse textUse = TraceTextUse::InState);

// Writes a TXT file through OutputFile: the trace text of `field` and one more CR LF,
// streamed in pieces. On failure (with the file name and the reason) the file that was
// there before stays as it was.
Status WriteTraceFile(const std::filesystem::path& path, const TraceField& field,
                      char decimalSeparator, const FileCalls& calls = FileCalls::system());
// The same for a trace text already in memory.
Status WriteTraceFile(const std::filesystem::path& path, std::string_view traceText);

}  // namespace benchcap::trace
