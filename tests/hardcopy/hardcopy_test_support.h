#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bus/clock.h"
#include "bus/testing/scripted_user_interface.h"
#include "sim/bench_config.h"
#include "sim/sim_bench.h"
#include "support/test_paths.h"

namespace benchcap::test {

// A bench from YAML text on a virtual clock.
inline std::unique_ptr<sim::SimBench> makeBench(const std::string& yaml) {
    sim::BenchLoadResult loaded = sim::parseBenchText(yaml, "test");
    EXPECT_EQ(loaded.error, "");
    return std::make_unique<sim::SimBench>(loaded.config, std::make_shared<bus::VirtualClock>());
}

// Files in a folder, sorted (to see that nothing half-written was left behind).
inline std::vector<std::string> filesIn(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace benchcap::test
