#include <gtest/gtest.h>
#include <yaml-cpp/yaml.h>

#include <fstream>
#include <sstream>

#include "cli/cli.h"
#include "sim/bench_config.h"
#include "support/test_paths.h"

namespace benchcap::cli {
namespace {

struct CliRun {
    int code;
    std::string out;
    std::string err;
};

// benchcap-cli --interface sim:<bench file holding yaml> <args...>
CliRun run(const std::string& yaml, std::vector<std::string> args) {
    const auto bench = test::makeTempDir("cli") / "bench.yaml";
    std::ofstream(bench) << yaml;
    args.insert(args.begin(), {"--interface", "sim:" + bench.string()});
    std::ostringstream out, err;
    const int code = runCli(args, out, err);
    return {code, out.str(), err.str()};
}

const char* kTwoBoards = R"(
boards: [0, 2]
clock: virtual
instruments:
  - {address: 6, board: 2, kind: vector-analyzer, idn: "Veltronik,KLVZ,1,1.60"}
)";

TEST(CliScan, JsonOnTheBuiltInBench) {
    std::string yaml = sim::builtinBenchYaml();
    yaml.replace(yaml.find("clock: real"), 11, "clock: virtual");
    const CliRun r = run(yaml, {"scan", "--json"});
    ASSERT_EQ(r.code, kExitDone) << r.err;
    const YAML::Node o = YAML::Load(r.out);
    EXPECT_EQ(o["answer_line"].as<std::string>(), "5 VTK-DEVICES FOUND");
    ASSERT_EQ(o["devices"].size(), 30u);
    const YAML::Node klvz = o["devices"][19];
    EXPECT_EQ(klvz["colour"].as<std::string>(), "green");
    EXPECT_EQ(klvz["tooltip"].as<std::string>(), "Addr 20: KLVZ26, firmware 2.10");
    EXPECT_EQ(klvz["options"].as<std::string>(), "B4,K7\n");
}

TEST(CliScan, BoardOptionAndUsageErrors) {
    CliRun r = run(kTwoBoards, {"scan", "--board", "2", "--timeouts", "11:11"});
    ASSERT_EQ(r.code, kExitDone) << r.err;
    EXPECT_NE(r.err.find("Please enter board number (available boards: GPIB0,GPIB2)"),
              std::string::npos);
    EXPECT_NE(r.out.find("06\t12\tgreen\tAddr 6: KLVZ, firmware 1.60\tKLVZ (1.60)\t"
                         "Veltronik,KLVZ,1,1.60\\n\t\\n\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(run(kTwoBoards, {"scan", "--board", "1"}).code, kExitNoAnswer);
    for (const auto& opts : std::vector<std::vector<std::string>>{
             {"--timeouts", "11"}, {"--timeouts", "11:18"}, {"--board"}, {"extra"}}) {
        std::vector<std::string> args = {"scan"};
        args.insert(args.end(), opts.begin(), opts.end());
        EXPECT_EQ(run(kTwoBoards, args).code, kExitUsage) << opts[0];
    }
    // No pass at all when START is past STOP; the table is printed all the same.
    r = run(kTwoBoards, {"scan", "--board", "2", "--timeouts", "12:11"});
    EXPECT_EQ(r.code, kExitDone);
    EXPECT_NE(r.out.find("06\t0\tnone\t"), std::string::npos) << r.out;
}

TEST(CliBoardConfig, SaveThenLoadOnTheChosenBoard) {
    const std::string ini = (test::makeTempDir("cli-board-config") / "boards.ini").string();
    CliRun r = run(kTwoBoards, {"board-config", "save", ini, "LAB1", "--board", "2"});
    ASSERT_EQ(r.code, kExitDone) << r.err;
    EXPECT_NE(test::readFile(ini).find("[LAB1_PCINTEROP]"), std::string::npos);
    EXPECT_NE(r.out.find("LAB1_BOARD\tTimeout_Value\t13\n"), std::string::npos) << r.out;

    std::ofstream(ini) << "[LAB1_BOARD]\nTimeout_Value=11\n";
    r = run(kTwoBoards, {"board-config", "load", ini, "LAB1", "--board", "2"});
    ASSERT_EQ(r.code, kExitDone) << r.err;
    EXPECT_NE(r.out.find("LAB1_BOARD\tTimeout_Value\t11\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("LAB1_EOS\tEOS_Character\t0\n"), std::string::npos);
    EXPECT_EQ(r.out.find("_PCINTEROP"), std::string::npos);
    // A board the interface does not have, a file that is not there, bad arguments.
    EXPECT_EQ(run(kTwoBoards, {"board-config", "save", ini, "LAB1", "--board", "5"}).code,
              kExitNoAnswer);
    EXPECT_EQ(run(kTwoBoards, {"board-config", "load", ini + "x", "LAB1"}).code, kExitNoAnswer);
    EXPECT_EQ(run(kTwoBoards, {"board-config", "keep", ini, "LAB1"}).code, kExitUsage);
    EXPECT_EQ(run(kTwoBoards, {"board-config", "save", ini, "LAB1", "--board", "12"}).code,
              kExitUsage);
}

}  // namespace
}  // namespace benchcap::cli
