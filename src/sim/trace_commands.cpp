#include "sim/instrument_modules.h"

namespace benchcap::sim {

std::vector<KeySpec> traceKeys(const std::string&) {
    return {};
}

void installTraceCommands(SimInstrument&) {}

}  // namespace benchcap::sim
