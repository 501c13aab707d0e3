#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bus/clock.h"
#include "bus/user_interface.h"
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

struct ShownBox {
    bus::MessageIcon icon;
    std::string title;
    std::string text;
};

// Boxes answered from a script (else the first button), remembered for the assertions.
class ScriptedUi final : public bus::UserInterface {
  public:
    bus::MessageResult messageBox(bus::MessageIcon icon, const std::string& title,
                                  const std::string& text, bus::MessageButtons buttons) override {
        shown.push_back({icon, title, text});
        if (!answers.empty()) {
            const auto a = answers.front();
            answers.pop_front();
            return a;
        }
        return buttons == bus::MessageButtons::YesNo ? bus::MessageResult::Yes
                                                     : bus::MessageResult::Ok;
    }
    std::optional<std::string> inputBox(const std::string&, const std::string&,
                                        const std::string&) override {
        return std::nullopt;
    }
    std::deque<bus::MessageResult> answers;
    std::vector<ShownBox> shown;
};

// Files in a folder (to see that nothing half-written was left behind).
inline std::vector<std::string> filesIn(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        names.push_back(e.path().filename().string());
    }
    return names;
}

}  // namespace benchcap::test
