#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "bus/clock.h"
#include "bus/session.h"
#include "bus/testing/scripted_user_interface.h"
#include "sim/sim_bench.h"

namespace benchcap::trace::test {

// A simulated bench from a bench text, and a session on one of its addresses selected
// as InitDevice does.
struct SimSession {
    SimSession(const std::string& yaml, int address)
        : bench(Load(yaml), std::make_shared<bus::VirtualClock>()), session(bench, instrument) {
        bus::SelectInstrument(instrument, 0, static_cast<int16_t>(address));
    }
    static sim::BenchConfig Load(const std::string& yaml) {
        sim::BenchLoadResult loaded = sim::parseBenchText(yaml, "test");
        EXPECT_EQ(loaded.error, "");
        return loaded.config;
    }
    // Time-out codes set on the instrument's handle, in order.
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

}  // namespace benchcap::trace::test
