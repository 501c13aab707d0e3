#include <gtest/gtest.h>
#include <yaml-cpp/yaml.h>

#include <fstream>
#include <set>
#include <sstream>

#include "cli/cli.h"
#include "sim/bench_config.h"
#include "support/test_paths.h"

namespace benchcap::cli {
namespace {

std::string writeBench(const std::string& name, const std::string& yaml) {
    const auto path = test::makeTempDir("cli-scan") / name;
    std::ofstream(path) << yaml;
    return path.string();
}

struct CliRun {
    int code;
    std::string out;
    std::string err;
};

CliRun scan(const std::string& bench, std::vector<std::string> options) {
    std::vector<std::string> args = {"--interface", "sim:" + bench, "scan"};
    args.insert(args.end(), options.begin(), options.end());
    std::ostringstream out;
    std::ostringstream err;
    const int code = runCli(args, out, err);
    return {code, out.str(), err.str()};
}

// The built-in bench on virtual time shows every kind of indicator.
TEST(CliScan, JsonOnTheBuiltInBench) {
    std::string yaml = sim::builtinBenchYaml();
    yaml.replace(yaml.find("clock: real"), 11, "clock: virtual");
    const CliRun r = scan(writeBench("builtin.yaml", yaml), {"--json"});
    ASSERT_EQ(r.code, kExitDone) << r.err;
    const YAML::Node o = YAML::Load(r.out);
    EXPECT_EQ(o["board_id"].as<int>(), 0);
    EXPECT_EQ(o["address_line"].as<std::string>(), "move over LED to get more infos");
    EXPECT_EQ(o["answer_line"].as<std::string>(), "5 VTK-DEVICES FOUND");
    const YAML::Node devices = o["devices"];
    ASSERT_EQ(devices.size(), 30u);
    std::set<std::string> colours;
    for (size_t i = 0; i < devices.size(); ++i) {
        EXPECT_EQ(devices[i]["address"].as<int>(), static_cast<int>(i) + 1);
        colours.insert(devices[i]["colour"].as<std::string>());
    }
    EXPECT_EQ(colours, (std::set<std::string>{"red", "black", "green"}));
    const YAML::Node kvlz = devices[19];
    EXPECT_EQ(kvlz["type"].as<int>(), 12);
    EXPECT_EQ(kvlz["colour"].as<std::string>(), "green");
    EXPECT_EQ(kvlz["tooltip"].as<std::string>(), "Addr 20: KLVZ26, firmware 2.10");
    EXPECT_EQ(kvlz["info"].as<std::string>(), "KLVZ (2.10)");
    EXPECT_EQ(kvlz["idn"].as<std::string>(), "Veltronik,KLVZ26,100234/003,2.10\n");
    EXPECT_EQ(kvlz["options"].as<std::string>(), "B4,K7\n");
    EXPECT_EQ(devices[2]["colour"].as<std::string>(), "black");
    EXPECT_EQ(devices[2]["type"].as<int>(), 99);
    EXPECT_EQ(devices[24]["tooltip"].as<std::string>(), "Addr 25: no response to *IDN?");
    EXPECT_EQ(devices[8]["colour"].as<std::string>(), "red");  // a plotter no probe knows
}

TEST(CliScan, BoardOptionAnswersTheBoardQuestion) {
    const std::string bench = writeBench("two.yaml", R"(
boards: [0, 2]
instruments:
  - {address: 6, board: 2, kind: vector-analyzer, idn: "Veltronik,KLVZ,1,1.60"}
)");
    CliRun r = scan(bench, {"--board", "2", "--timeouts", "11:11"});
    ASSERT_EQ(r.code, kExitDone) << r.err;
    EXPECT_NE(r.err.find("Please enter board number (available boards: GPIB0,GPIB2)"),
              std::string::npos);
    EXPECT_NE(r.out.find("06\t12\tgreen\tAddr 6: KLVZ, firmware 1.60\tKLVZ (1.60)\t"
                         "Veltronik,KLVZ,1,1.60\\n\t\\n\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("board:\t2\n"), std::string::npos);
    EXPECT_NE(r.out.find("Answer:\t1 VTK-DEVICE FOUND\n"), std::string::npos);

    r = scan(bench, {"--board", "1", "--json"});
    EXPECT_EQ(r.code, kExitNoAnswer);
    const YAML::Node o = YAML::Load(r.out);
    EXPECT_EQ(o["board_id"].as<int>(), -1);
    EXPECT_EQ(o["address_line"].as<std::string>(), "no valid board index selected!");
    EXPECT_EQ(o["answer_line"].as<std::string>(), "---");
    EXPECT_EQ(o["devices"][5]["colour"].as<std::string>(), "none");
}

TEST(CliScan, BadOptionsAreUsageErrors) {
    const std::string bench = writeBench("empty.yaml", "clock: virtual\n");
    for (const auto& opts : std::vector<std::vector<std::string>>{{"--timeouts", "11"},
                                                                  {"--timeouts", "11:x"},
                                                                  {"--timeouts", "11:18"},
                                                                  {"--board"},
                                                                  {"extra"}}) {
        const CliRun r = scan(bench, opts);
        EXPECT_EQ(r.code, kExitUsage) << opts[0];
        EXPECT_FALSE(r.err.empty());
    }
    // No pass at all when START is past STOP; the table is printed all the same.
    const CliRun r = scan(bench, {"--timeouts", "12:11"});
    EXPECT_EQ(r.code, kExitDone);
    EXPECT_NE(r.out.find("01\t0\tnone\t"), std::string::npos);
}

}  // namespace
}  // namespace benchcap::cli
