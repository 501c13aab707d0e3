#include <gtest/gtest.h>
#include <yaml-cpp/yaml.h>

#include <fstream>

#include "cli/cli.h"
#include "cli_runner.h"
#include "support/test_paths.h"

namespace benchcap::cli {
namespace {

using test::runCliInProcess;

const char* kTwoBoards = R"(
boards: [0, 2]
instruments:
  - {address: 6, board: 2, kind: vector-analyzer, idn: "Veltronik,KLVZ,1,1.60"}
)";

test::CliResult run(const std::string& yaml, std::vector<std::string> args) {
    args.insert(args.begin(), {"--interface", test::simBench(yaml)});
    return runCliInProcess(std::move(args));
}

TEST(CliScan, JsonOnTheBuiltInBench) {
    const test::CliResult r = runCliInProcess({"--interface", "sim", "scan", "--json"});
    ASSERT_EQ(r.code, kExitDone) << r.err;
    const YAML::Node o = YAML::Load(r.out);
    EXPECT_EQ(o["answer_line"].as<std::string>(), "5 VTK-DEVICES FOUND");
    EXPECT_EQ(o["board_failure"].as<std::string>(), "");
    ASSERT_EQ(o["devices"].size(), 30u);
    EXPECT_EQ(o["devices"][19]["options"].as<std::string>(), "B4,K7\n");
}

TEST(CliScan, ChosenBoard) {
    test::CliResult r = run(kTwoBoards, {"scan", "--board", "2", "--timeouts", "11:11"});
    ASSERT_EQ(r.code, kExitDone) << r.err;
    EXPECT_NE(r.err.find("benchcap: SELECT BOARD INDEX: Please enter board number (available "
                         "boards: GPIB0,GPIB2) -> '2'"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.out.find("06\t12\tgreen\tAddr 6: KLVZ, firmware 1.60\tKLVZ (1.60)\t"
                         "Veltronik,KLVZ,1,1.60\\n\t\\n\n"),
              std::string::npos)
        << r.out;
    // A board that is not there is refused before the scan, also when the scan would
    // take the only board there is without asking.
    for (const char* yaml : {kTwoBoards, "boards: [0]\n"}) {
        r = run(yaml, {"scan", "--board", "1"});
        EXPECT_EQ(r.code, kExitNoAnswer);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("benchcap-cli scan: no board GPIB1 on this interface (no GPIB "
                             "board 1: ibfind failed with ENEB"),
                  std::string::npos)
            << r.err;
    }
}

TEST(CliScan, OutOfRangeOptionsAreRefused) {
    const struct {
        std::vector<std::string> options;
        const char* message;
    } cases[] = {
        {{"--timeouts", "11"}, "--timeouts takes two time-out codes 1..17"},
        {{"--timeouts", "11:18"}, "not '11:18'"},
        {{"--timeouts", "5:1"}, "START not above STOP"},
        {{"--timeouts", "12:11"}, "not '12:11'"},
        {{"--timeouts", "0:11"}, "not '0:11'"},  // no time-out: a silent listener hangs the scan
        {{"--timeouts", ":"}, "not ':'"},
        {{"--board", "10"}, "--board takes a board index 0..9, not '10'"},
        {{"--board", "-1"}, "not '-1'"},
        {{"--board", "2x"}, "not '2x'"},
        {{"--board"}, "--board needs a value"},
        {{"extra"}, "unexpected argument 'extra'"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"scan"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const test::CliResult r = run(kTwoBoards, args);
        SCOPED_TRACE(c.options.back());
        EXPECT_EQ(r.code, kExitUsage);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
    // The widest valid range still scans.
    EXPECT_EQ(run("boards: [0]\n", {"scan", "--timeouts", "1:17", "--board", "0"}).code, kExitDone);
}

TEST(CliBoardConfig, SaveThenLoadOnTheChosenBoard) {
    const std::string ini = (test::makeTempDir("cli-board-config") / "boards.ini").string();
    test::CliResult r = run(kTwoBoards, {"board-config", "save", ini, "LAB1", "--board", "2"});
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
    r = run(kTwoBoards, {"board-config", "save", ini, "LAB1", "--board", "5"});
    EXPECT_EQ(r.code, kExitNoAnswer);
    EXPECT_NE(r.err.find("(no GPIB board 5: ibfind failed with ENEB"), std::string::npos) << r.err;
    EXPECT_EQ(run(kTwoBoards, {"board-config", "load", ini + "x", "LAB1"}).code, kExitNoAnswer);
    EXPECT_EQ(run(kTwoBoards, {"board-config", "keep", ini, "LAB1"}).code, kExitUsage);
    EXPECT_EQ(run(kTwoBoards, {"board-config", "save", ini, "LAB1", "--board", "12"}).code,
              kExitUsage);
}

}  // namespace
}  // namespace benchcap::cli
