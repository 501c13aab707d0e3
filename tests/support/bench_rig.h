#pragma once

// The one test rig for everything that runs on the simulated bench: bench text -> bench on
// a virtual clock -> instrument record and session -> scripted boxes, with helpers to read
// the traffic back. Header only: the tests that include it link the simulated bench.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bus/clock.h"
#include "bus/session.h"
#include "sim/bench_config.h"
#include "sim/sim_bench.h"
#include "support/scripted_user_interface.h"

namespace benchcap::test {

// The configuration of a bench text; a text the loader refuses fails the test.
inline sim::BenchConfig benchConfig(const std::string& yaml) {
    Result<sim::BenchConfig> loaded = sim::parseBenchText(yaml, "test");
    EXPECT_EQ(loaded.error(), "") << yaml;
    return loaded ? std::move(loaded.value()) : sim::BenchConfig{};
}

// A bench from its text on a virtual clock.
inline std::unique_ptr<sim::SimBench> makeBench(const std::string& yaml) {
    return std::make_unique<sim::SimBench>(benchConfig(yaml),
                                           std::make_shared<bus::VirtualClock>());
}

// A bench, the instrument record and a session on it, and scripted boxes. With an address,
// that instrument is selected on board 0 as a command's start selects it.
struct BenchRig {
    explicit BenchRig(const std::string& yaml, int address = 0)
        : bench(benchConfig(yaml), std::make_shared<bus::VirtualClock>()),
          session(bench, instrument) {
        if (address != 0)
            select(address);
    }
    void select(int address) {
        bus::SelectInstrument(instrument, 0, static_cast<int16_t>(address));
    }
    // Selects, opens and identifies, then forgets the traffic that took.
    void identify(int address) {
        select(address);
        session.OpenDevice();
        session.IdentifyDevice();
        bench.clearTraffic();
    }
    // Time-out codes set on the handle of `address`, in order.
    std::vector<int> timeouts(int address) const {
        std::vector<int> codes;
        for (const auto& e : bench.traffic()) {
            if (e.kind == sim::Traffic::SetTimeout && e.address == address)
                codes.push_back(e.value);
        }
        return codes;
    }

    sim::SimBench bench;
    bus::CurrentInstrument instrument;
    bus::Session session;
    bus::testing::ScriptedUserInterface ui;
};

}  // namespace benchcap::test
