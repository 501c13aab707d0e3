#pragma once

// The behaviours that make up the simulated instruments, one module each, so that
// screens, traces and plots grow independently. Each module adds its command handlers
// to an instrument and names the bench-file keys it reads.

#include <memory>
#include <vector>

#include "sim/bench_keys.h"
#include "sim/sim_instrument.h"

namespace benchcap::sim {

// Screen hardcopies: HCOPY and MMEM commands of analyzers and network analyzers
// (keys: drives, panel_format, panel_color), "HCOP:DATA?" of signal generators.
std::vector<KeySpec> screenKeys(const std::string& kind);
void installScreenCommands(SimInstrument& instrument);

// Trace data of analyzers, vector analyzers and network analyzers.
std::vector<KeySpec> traceKeys(const std::string& kind);
void installTraceCommands(SimInstrument& instrument);

// Instruments that can only plot to a GPIB plotter.
std::vector<KeySpec> plotterKeys();
std::unique_ptr<SimInstrument> createPlotterOnly(const InstrumentConfig& config, bus::Clock& clock);

}  // namespace benchcap::sim
