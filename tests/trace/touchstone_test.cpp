#include "trace/touchstone.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "support/golden.h"
#include "support/test_paths.h"
#include "trace/touchstone_reader.h"

namespace benchcap::trace {
namespace {

using V = TouchstoneVersion;

std::vector<float> Frequencies(std::size_t n, float first, float step) {
    std::vector<float> f(n);
    for (std::size_t i = 0; i < n; ++i)
        f[i] = first + step * static_cast<float>(i);
    return f;
}

// One channel or four of one sweep, with values that need all ten digits and the extremes
// of a float mixed in.
struct Sweep {
    explicit Sweep(int ports, std::vector<float> stimulus = Frequencies(5, 1e9f, 1e6f))
        : sets(ports == 2 ? 4 : 1) {
        const float extremes[] = {FLT_MAX, -FLT_MIN, FLT_TRUE_MIN, -0.0f, 1e-30f};
        for (std::size_t c = 0; c < sets.size(); ++c) {
            sets[c].IsNetworkTrace = sets[c].IsPairs = true;
            sets[c].axis32 = stimulus;
            for (std::size_t k = 0; k < 2 * stimulus.size(); ++k)
                sets[c].values.push_back(k % 7 == 6 ? extremes[(k / 7 + c) % 5]
                                                    : static_cast<float>(std::sin(k + 0.3 * c)));
            channels.push_back({&sets[c], static_cast<int>(c + 1), {}});
        }
    }
    std::vector<TraceDataSet> sets;
    std::vector<TouchstoneChannel> channels;
};

// Every file reads back strictly, with the sent floats: S11, S21, S12, S22 in their places.
TEST(Touchstone, WrittenFilesReadBackStrictlyWithTheSentFloats) {
    for (const auto& [ports, version, stimulus] : {
             std::tuple{1, V::V1_1, Frequencies(1601, 10e6f, 1.9e6f)},
             {2, V::V1_1, Frequencies(1601, 26.5e9f, -1e7f)},  // swept downwards
             {2, V::V2_0, Frequencies(3, 0.125f, 0.5f)},
             {1, V::V2_0, std::vector<float>{0.0f}},
         }) {
        const Sweep sweep(ports, stimulus);
        const Result<std::string> text = TouchstoneText(sweep.channels, {version, "Acme,NA\n"});
        ASSERT_TRUE(text) << text.error();
        EXPECT_NE(text->find("! Instrument: Acme,NA \n"), std::string::npos);
        EXPECT_EQ(text->find(',', text->find("# HZ")), std::string::npos);
        const Result<test::TouchstoneFile> file = test::ReadTouchstone(*text, ports);
        ASSERT_TRUE(file) << file.error() << "\n" << text->substr(0, 600);
        EXPECT_EQ(file->version2, version == V::V2_0);
        ASSERT_EQ(file->frequencies.size(), stimulus.size());
        const bool down = stimulus.size() > 1 && stimulus[1] < stimulus[0];
        for (std::size_t p = 0; p < stimulus.size(); ++p) {
            const std::size_t i = down ? stimulus.size() - 1 - p : p;
            EXPECT_EQ(file->frequencies[p], static_cast<double>(stimulus[i]));
            for (std::size_t m = 0; m < file->values[p].size(); ++m) {
                const std::size_t channel = m / 2 == 1 ? 2 : m / 2 == 2 ? 1 : m / 2;  // S12, S21
                const double sent = sweep.sets[channel].values[2 * i + m % 2];
                EXPECT_LE(std::abs(file->values[p][m] - sent), 1e-9 * std::abs(sent)) << p;
            }
        }
    }
}

// Nothing is written for what Touchstone cannot hold; the message says why and what to do.
TEST(Touchstone, RefusesWhatItCannotHoldAndSaysWhy) {
    for (const auto& [change, words] :
         std::vector<std::pair<std::function<void(Sweep&)>, std::string>>{
             {[](Sweep& s) { s.sets[0].IsPairs = false, s.sets[0].values.resize(5); },
              "channel 1 is in a real format (5 values for 5 points): set"},
             {[](Sweep& s) { s.sets[2].IsNetworkTrace = false; }, "channel 3 is an analyzer's"},
             {[](Sweep& s) { s.sets[1].values[3] = NAN; }, "channel 2, point 2: the value is"},
             {[](Sweep& s) { s.channels.pop_back(); }, "one channel (.s1p) or four"},
             {[](Sweep& s) { s.channels[1].parameter = "s12"; }, "measures S12, but place 2"},
             {[](Sweep& s) { s.sets[3].axis32.pop_back(), s.sets[3].values.resize(8); },
              "channel 4 has 4 points"},
             {[](Sweep& s) { s.sets[2].axis32[4] = 2e9f; }, "channel 3, point 5: 2000000000 Hz"},
             {[](Sweep& s) { s.sets[0].values.clear(); }, "channel 1 holds no trace"},
             {[](Sweep& s) { s.channels.resize(1), s.sets[0].axis32[3] = NAN; }, "nan Hz is not"},
             {[](Sweep& s) { s.channels.resize(1), s.sets[0].axis32[4] = 1.003e9f; },
              "points 4 and 5 are both at 1003000000"},
             {[](Sweep& s) { s.channels.resize(1), s.sets[0].axis32[1] = 0.9e9f; },
              "turns at point 3 (900000000 Hz, then 1002000000 Hz): Touchstone needs strictly"},
         }) {
        Sweep s(2);
        change(s);
        const std::string refusal = TouchstoneText(s.channels, {}).error();
        EXPECT_NE(refusal.find(words), std::string::npos) << refusal;
    }
    const Sweep good(2);
    const auto dir = test::makeTempDir("touchstone");
    EXPECT_NE(WriteTouchstone(dir / "a.s1p", good.channels, {}).error().find("named *.s2p,"),
              std::string::npos);
    EXPECT_TRUE(std::filesystem::is_empty(dir));
    ASSERT_TRUE(WriteTouchstone(dir / "a.TS", good.channels, {V::V2_0, ""}));
    EXPECT_EQ(test::readFile(dir / "a.TS"), *TouchstoneText(good.channels, {V::V2_0, ""}));
}

// "PORTS VERSION [PARAMETER]": a three-point sweep as the file holds it, each line after "| ".
TEST(Touchstone, SmallFilesAsWritten) {
    test::checkGolden("golden/touchstone-files.txt", [](const std::string& input) {
        std::istringstream words(input);
        int ports = 0;
        std::string version, parameter;
        words >> ports >> version >> parameter;
        Sweep sweep(ports, Frequencies(3, 1e9f, 0.5e9f));
        sweep.channels[0].parameter = parameter;
        std::istringstream text(*TouchstoneText(
            sweep.channels, {version == "2.0" ? V::V2_0 : V::V1_1, "Veltronik,NQD8,1,1.45"}));
        std::string lines;  // the golden file's "#" starts a comment
        for (std::string line; std::getline(text, line);)
            lines += "| " + line + "\n";
        return lines;
    });
}

}  // namespace
}  // namespace benchcap::trace
