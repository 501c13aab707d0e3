#pragma once

#include <cstdint>

#include <yaml-cpp/yaml.h>

#include <string>
#include <vector>

#include "base/result.h"

namespace benchcap::sim {

// The largest plot file a plotter sends (it sends the file whole, so it must fit in memory);
// checked when the bench is loaded and again when the file is read.
inline constexpr std::uintmax_t kMaxPlotFileBytes = std::uintmax_t{256} << 20;

// One instrument of a bench file. Kind-specific keys stay in `node`; each instrument
// module reads its own keys from it (they were validated when the file was loaded).
struct InstrumentConfig {
    int address = 0;  // primary address 1..30
    int board = 0;    // index n of the board "GPIBn" whose bus it hangs on
    std::string kind;
    std::string idn;      // *IDN? answer without its line feed
    std::string options;  // *OPT? answer without its line feed
    YAML::Node node;      // the whole mapping of this instrument
    std::string where;    // "file:line" for messages
};

// A whole bench: which boards exist and what hangs on their buses.
struct BenchConfig {
    std::vector<int> boards{0};
    std::vector<InstrumentConfig> instruments;
    bool realTime = false;  // key `clock: real|virtual`
    std::string source;     // file name, or "built-in bench"
};

// Reading a bench file; a failure names the file, the line and the key at fault.
Result<BenchConfig> loadBenchFile(const std::string& path);
Result<BenchConfig> parseBenchText(const std::string& yamlText, const std::string& sourceName);

// The built-in bench: every kind of instrument, a vector analyzer at address 20.
BenchConfig builtinBench();
const char* builtinBenchYaml();

}  // namespace benchcap::sim
