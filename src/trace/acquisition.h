#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/result.h"
#include "bus/session.h"
#include "bus/user_interface.h"
#include "trace/trace_data.h"

namespace benchcap::trace {

// How an acquisition that did not fail ended. The data set is replaced only when `Read`;
// in every other case, a failure included, it keeps the previous trace.
enum class AcquisitionStatus {
    Read,       // a new trace is in the data set
    NotReady,   // the instrument did not identify itself again; nothing was sent
    NotActive,  // the trace is not shown on the instrument (TraceActive becomes False)
};

struct Acquisition {
    AcquisitionStatus status = AcquisitionStatus::Read;
    std::string notice;  // a message box that was shown, e.g. "unknown numerical format!"
};

// A failure is broken or missing data; its error says what and what to do.
using AcquisitionResult = Result<Acquisition>;

// Reads trace `traceNumber` (1..4) of a spectrum or vector analyzer ("KLRx", "KLVZ", "KLT",
// "KLW", "KLB", "RVM", "RVFE"): trace state, centre, span and sweep time, the REAL,32
// block, "INST:NSEL?" and in vector-analysis mode the symbol, plain or paired layout, then
// the x axis. Leaves the instrument's time-out at 1 s (30 s after a symbol table).
AcquisitionResult ReadAnalyzerTrace(bus::Session& session, bus::UserInterface& ui,
                                    int16_t traceNumber, TraceDataSet& data);

// Reads channel `channel` (1..4) of a network analyzer ("NQx"): the channel data and the
// stimulus values, both REAL,32. Data that is neither one nor two values per stimulus
// point is refused. Leaves the instrument's time-out at 30 s.
AcquisitionResult ReadNetworkTrace(bus::Session& session, int16_t channel, TraceDataSet& data);

// Bits per symbol for an answer of "SENS:DDEM:FORM?" and, where the format needs one, the
// answer of its state-count query; 0 when the pair is not in the modulation table.
int BitsPerSymbolFor(const std::string& format, const std::string& states);

// The state-count query a modulation format needs ("SENS:DDEM:PSK:NST?"), or empty.
std::string StateQueryFor(const std::string& format);

// One byte per symbol unpacked into `bitsPerSymbol` bits (0 or 1), the most significant
// used bit first; bits above the used ones are ignored.
std::vector<uint8_t> UnpackSymbols(const std::vector<uint8_t>& symbols, int bitsPerSymbol);

// An instrument answer cut before its first line feed or NUL, blanks removed at both ends.
std::string CutAnswer(const std::string& answer);

}  // namespace benchcap::trace
