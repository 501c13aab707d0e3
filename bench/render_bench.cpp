// benchcap-cli render of 16 MB plots, the largest input the hardcopy workflow takes, at
// the default size into each output format. Each run is the program itself, started
// afresh; its peak memory is counter `peak_MB` (max RSS; Linux starts a child's count at
// its parent's, so this program makes one input at a time and stays under about 50 MB).
// Targets: at most 5 s and at most 256 MB for any of them.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "plot_inputs.h"

extern char** environ;

namespace {

using benchcap::bench::fill16;
using benchcap::bench::spikyPolygon;

namespace fs = std::filesystem;

std::string scattered(const std::string& head, bool asVertices) {
    std::string s = head;
    uint32_t seed = 1;
    while (s.size() + 24 < (16u << 20)) {
        seed = seed * 1664525u + 1013904223u;
        const std::string xy = std::to_string(seed % 10000) + "," + std::to_string(seed % 7001);
        s += asVertices ? xy + "," : "PU" + xy + ";PD;";
    }
    return s + "0,0;";
}

void renderOnce(benchmark::State& state, const fs::path& in, const std::string& ext) {
    const fs::path out = fs::temp_directory_path() / ("benchcap-render-bench." + ext);
    double peakMb = 0;
    for (auto _ : state) {
        std::string program = BENCHCAP_CLI_PATH, command = "render", input = in.string(),
                    option = "-o", output = out.string();
        char* argv[] = {program.data(), command.data(), input.data(),
                        option.data(),  output.data(),  nullptr};
        pid_t pid = -1;
        if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv, environ) != 0) {
            state.SkipWithError("benchcap-cli cannot be started");
            return;
        }
        int status = 0;
        rusage usage{};
        wait4(pid, &status, 0, &usage);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            state.SkipWithError("render failed");
        peakMb = std::max(peakMb, static_cast<double>(usage.ru_maxrss) / 1024);
    }
    state.counters["peak_MB"] = peakMb;
    std::error_code ec;
    state.counters["out_MB"] = static_cast<double>(fs::file_size(out, ec)) / (1 << 20);
    fs::remove(out, ec);
}

}  // namespace

int main(int argc, char** argv) {
    // Made one at a time, written to a file and let go.
    const std::vector<std::pair<std::string, std::function<std::string()>>> inputs = {
        {"dots", [] { return scattered("SP1;LT0;PD", true); }},
        {"pen_down_dots", [] { return scattered("SP1;", false); }},
        {"one_polyline", [] { return fill16("SP1;PD", "0,0,9999,7000,"); }},
        {"separate_lines", [] { return fill16("SP1;", "PU0,0;PD9,9;"); }},
        {"circles", [] { return fill16("SP1;PU5000,4000;", "CI3000;"); }},
        {"labels", [] { return fill16("SP1;", "PA10,10;LBABCDEFGHIJKLMNOPQRSTUVWXYZ\x03"); }},
        {"hatched_rectangles", [] { return fill16("SP1;FT3,1,45;", "PU0,0;RA10000,7000;"); }},
        {"spiky_polygons", [] { return fill16("SP1;", spikyPolygon(40)); }},
        {"pages", [] { return fill16("SP1;", "PD9999,7000,0,7000;PG;"); }},
    };
    const fs::path dir = fs::temp_directory_path() / "benchcap-render-bench";
    fs::create_directories(dir);
    for (const auto& [name, make] : inputs) {
        const fs::path in = dir / (name + ".hpgl");
        const std::string bytes = make();
        std::ofstream(in, std::ios::binary)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        for (const std::string ext : {"png", "svg", "pdf"}) {
            benchmark::RegisterBenchmark(("render_16MB/" + name + "/" + ext).c_str(),
                                         [in, ext](benchmark::State& s) { renderOnce(s, in, ext); })
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime()
                ->Iterations(1);
        }
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fs::remove_all(dir);
    return 0;
}
