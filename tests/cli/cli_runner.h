#pragma once

// The one way CLI tests run benchcap-cli: in this process (runCli) or as the program, with
// the same arguments and environment. Every run is on virtual time, whatever the bench
// file says: a simulated bench (`--interface sim`, `sim:FILE`, also through
// BENCHCAP_INTERFACE) is handed over as a copy whose clock is virtual, and the simulated
// driver library runs without BENCHCAP_SIM_REALTIME. A silent address then costs no real
// second.

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace benchcap::test {

struct CliResult {
    int code = -1;
    std::string out;
    std::string err;
};

// Variables set (value) or removed (nullopt) for one run.
using CliEnvironment = std::vector<std::pair<std::string, std::optional<std::string>>>;

CliResult runCliInProcess(std::vector<std::string> args, const CliEnvironment& env = {});
// `inChild` runs in the child before the program starts: a file-size limit, a closed pipe
// as a standard stream.
CliResult runCliProcess(std::vector<std::string> args, const CliEnvironment& env = {},
                        void (*inChild)() = nullptr);

// Runs `args` through `--interface via` and on the built-in bench, each writing `file`
// (with -o, in a fresh folder) or, without `file`, its standard output: both succeed and
// give the same, non-empty bytes.
void expectAsOnTheBench(const std::string& via, std::vector<std::string> args,
                        const std::string& file = {});

// "sim:FILE" for a bench file holding `yaml` (in a fresh temporary folder).
std::string simBench(const std::string& yaml);

// The arguments as a run gets them: an explicit --interface, a simulated bench on virtual
// time.
std::vector<std::string> onVirtualTime(std::vector<std::string> args, const CliEnvironment& env);

// HP-GL for a polygon of `n` full-height spikes: much rasterizer work in few bytes.
inline std::string spikes(int n) {
    std::string s = "PU0,0;PM0;PD";
    for (int i = 0; i < n; ++i)
        s += std::to_string(i * 10) + ",7000," + std::to_string(i * 10 + 5) + ",0,";
    return s + "0,0;PM2;FP;";
}

}  // namespace benchcap::test
