#include "sim/instrument_modules.h"

namespace benchcap::sim {

std::vector<KeySpec> screenKeys(const std::string& kind) {
    if (kind == "spectrum-analyzer" || kind == "vector-analyzer" || kind == "network-analyzer") {
        return {
            {"drives", KeyType::TextList, nullptr, {}},
            {"panel_format", KeyType::Text, nullptr, {}},
            {"panel_color", KeyType::Bool, nullptr, {}},
        };
    }
    return {};
}

void installScreenCommands(SimInstrument&) {}

}  // namespace benchcap::sim
