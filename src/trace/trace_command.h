#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

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
    std::string message;  // the text for the label or box (empty for Done)
    std::string notice;   // a box the acquisition showed ("unknown numerical format!")
    bool isNetworkTrace = false;
};

// Highest trace number of a model: 3 for "KLT", "KLW", "RVFE" and "KLB", else 4.
int HighestTraceNumber(const std::string& modelName);

// The window-free core of the trace command for trace `traceNumber`. Call it after
// InitDevice (the session's record selected, opened and identified). It checks the trace
// number and full support, reads the trace by model (network analyzer "NQx"; analyzers
// "KLT", "KLW", "RVFE", "RVM", "KLB", "KLVZ", "KLRx"; other models have no trace commands),
// returns the instrument to local, and on success replaces state.data, state.field and
// state.text (cells written with `decimalSeparator`). `status` receives the status-line
// texts ("reading trace...", "reading finished", "idle", "trace data not supported.").
TraceCommandResult RunTraceCommand(bus::Session& session, bus::UserInterface& ui, int traceNumber,
                                   char decimalSeparator, TraceState& state,
                                   const std::function<void(std::string_view)>& status = {});

// Writes a TXT file: the trace text and one more CR LF, under a temporary name in the
// target folder, renamed when complete. Returns an empty text, or the error with the
// file name and the reason.
std::string WriteTraceFile(const std::string& path, std::string_view traceText);

}  // namespace benchcap::trace
