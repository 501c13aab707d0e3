#include "sim/instrument_kinds.h"

#include <algorithm>

#include "sim/instrument_modules.h"
#include "sim/recipe_instrument.h"

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

// Byte counts of the fault keys: anything a 32-bit count holds.
constexpr long long kMaxFaultBytes = 2147483647;

std::vector<KeySpec> commonKeys() {
    return {
        {"address", KeyType::Int, intRange(1, 30), {}},
        {"kind", KeyType::Text, nullptr, {}},
        {"idn", KeyType::Text, nullptr, {}},
        {"options", KeyType::Text, nullptr, {}},
        {"board", KeyType::Int, intRange(0, 9), {}},
        // Bulk data (blocks, pictures, plots) flow at this many bytes per second.
        {"rate_bytes_per_s", KeyType::Number, numberRange(1, 1e10), {}},
        {"faults",
         KeyType::Map,
         nullptr,
         {
             {"block_cut_after", KeyType::Int, intRange(0, kMaxFaultBytes), {}},
             {"block_header", KeyType::Text, nullptr, {}},
             {"silent_after", KeyType::Int, intRange(0, kMaxFaultBytes), {}},
             // Deaf from this bench time until the next (a power cycle, a pulled cable).
             {"silent_from_s", KeyType::Number, numberRange(0, 1e9), {}},
             {"silent_until_s", KeyType::Number, numberRange(0, 1e9), {}},
             {"bus_error_after", KeyType::Int, intRange(0, kMaxFaultBytes), {}},
             // Bulk answers (traces, pictures) asked for in this bench-time window come
             // late_answer_by_s (default 2 s) later: after the read's time-out, so the
             // answer still waits in the output queue when the next query is sent.
             {"late_answer_from_s", KeyType::Number, numberRange(0, 1e9), {}},
             {"late_answer_until_s", KeyType::Number, numberRange(0, 1e9), {}},
             {"late_answer_by_s", KeyType::Number, numberRange(0, 1e6), {}},
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
    // Instruments of other makers, each serving one screenshot recipe; not on the
    // built-in bench, as there is one for every recipe row.
    if (kind == "recipe")
        return true;
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
    if (kind == "recipe")
        add(recipeInstrumentKeys());
    return keys;
}

std::unique_ptr<SimInstrument> createInstrument(const InstrumentConfig& config, bus::Clock& clock) {
    if (config.kind == "silent")
        return std::make_unique<SilentInstrument>(config, clock);
    if (config.kind == "plotter-only")
        return createPlotterOnly(config, clock);
    if (config.kind == "recipe")
        return createRecipeInstrument(config, clock);
    auto inst = std::make_unique<SimInstrument>(config, clock);
    installScreenCommands(*inst);
    installTraceCommands(*inst);
    return inst;
}

}  // namespace benchcap::sim
