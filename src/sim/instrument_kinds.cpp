#include "sim/instrument_kinds.h"

#include <algorithm>

#include "sim/instrument_modules.h"

namespace benchcap::sim {
namespace {

// A listener that never answers.
class SilentInstrument final : public SimInstrument {
  public:
    SilentInstrument(const InstrumentConfig& config, bus::Clock& clock)
        : SimInstrument(config, clock) {
        removeAllHandlers();
    }

  protected:
    bool unhandled(const Command&) override { return true; }
};

std::string addressCheck(const YAML::Node& n) {
    const int a = n.as<int>();
    return a >= 1 && a <= 30 ? std::string() : "must lie in 1..30";
}

std::string boardCheck(const YAML::Node& n) {
    const int b = n.as<int>();
    return b >= 0 && b <= 9 ? std::string() : "must lie in 0..9";
}

std::string nonNegative(const YAML::Node& n) {
    return n.as<double>() >= 0 ? std::string() : "must not be negative";
}

std::vector<KeySpec> commonKeys() {
    return {
        {"address", KeyType::Int, addressCheck, {}},
        {"kind", KeyType::Text, nullptr, {}},
        {"idn", KeyType::Text, nullptr, {}},
        {"options", KeyType::Text, nullptr, {}},
        {"board", KeyType::Int, boardCheck, {}},
        {"faults",
         KeyType::Map,
         nullptr,
         {
             {"block_cut_after", KeyType::Int, nonNegative, {}},
             {"block_header", KeyType::Text, nullptr, {}},
             {"silent_after", KeyType::Int, nonNegative, {}},
         }},
    };
}

}  // namespace

const std::vector<std::string>& instrumentKinds() {
    static const std::vector<std::string> kinds = {"spectrum-analyzer",
                                                   "vector-analyzer",
                                                   "network-analyzer",
                                                   "signal-generator",
                                                   "plotter-only",
                                                   "other-maker",
                                                   "silent"};
    return kinds;
}

bool isKnownKind(const std::string& kind) {
    const auto& k = instrumentKinds();
    return std::find(k.begin(), k.end(), kind) != k.end();
}

std::vector<KeySpec> keysForKind(const std::string& kind) {
    std::vector<KeySpec> keys = commonKeys();
    auto add = [&keys](std::vector<KeySpec> more) {
        for (auto& k : more)
            keys.push_back(std::move(k));
    };
    add(screenKeys(kind));
    add(traceKeys(kind));
    if (kind == "plotter-only")
        add(plotterKeys());
    return keys;
}

std::unique_ptr<SimInstrument> createInstrument(const InstrumentConfig& config, bus::Clock& clock) {
    if (config.kind == "silent")
        return std::make_unique<SilentInstrument>(config, clock);
    if (config.kind == "plotter-only")
        return createPlotterOnly(config, clock);
    auto inst = std::make_unique<SimInstrument>(config, clock);
    installScreenCommands(*inst);
    installTraceCommands(*inst);
    return inst;
}

}  // namespace benchcap::sim
