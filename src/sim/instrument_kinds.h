#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/sim_instrument.h"

namespace benchcap::sim {

// Type of a bench-file value, for the check made when the file is loaded.
enum class KeyType { Int, Number, Bool, Text, IntList, TextList, Map };

// One key that an instrument's mapping may hold. `check` (optional) tells what is wrong with
// a value of the right type ("must lie in 1..30"), or returns an empty text.
struct KeySpec {
    std::string name;
    KeyType type;
    std::function<std::string(const YAML::Node&)> check;
    std::vector<KeySpec> children;  // for KeyType::Map: the keys the map may hold
};

// Checks of a whole number or a number against its key's range ("must lie in 1..30"). The
// range is checked on the widest type, so a value too large for the key's own type is
// refused with the key's name instead of failing when the instrument is built.
std::function<std::string(const YAML::Node&)> intRange(long long lo, long long hi);
std::function<std::string(const YAML::Node&)> numberRange(double lo, double hi);

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
