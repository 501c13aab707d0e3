#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sim/bench_keys.h"
#include "sim/sim_instrument.h"

namespace benchcap::sim {

// The kinds of instrument a bench may hold: spectrum-analyzer, vector-analyzer,
// network-analyzer, signal-generator, plotter-only, other-maker, silent.
const std::vector<std::string>& instrumentKinds();
bool isKnownKind(const std::string& kind);

// Every key an instrument of `kind` may hold, the common ones (address, kind, idn,
// options, board, faults) included.
std::vector<KeySpec> keysForKind(const std::string& kind);

// Builds the simulated instrument for one bench entry (kind already checked).
std::unique_ptr<SimInstrument> createInstrument(const InstrumentConfig& config, bus::Clock& clock);

}  // namespace benchcap::sim
