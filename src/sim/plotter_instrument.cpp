#include "sim/instrument_modules.h"

namespace benchcap::sim {

std::vector<KeySpec> plotterKeys() {
    return {
        {"plotter_address", KeyType::Int, nullptr, {}},
        {"plot_delay_s", KeyType::Number, nullptr, {}},
        {"plot_file", KeyType::Text, nullptr, {}},
    };
}

std::unique_ptr<SimInstrument> createPlotterOnly(const InstrumentConfig& config,
                                                 bus::Clock& clock) {
    return std::make_unique<SimInstrument>(config, clock);
}

}  // namespace benchcap::sim
