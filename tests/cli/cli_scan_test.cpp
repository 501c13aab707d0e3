#include <gtest/gtest.h>
#include <yaml-cpp/yaml.h>

#include <fstream>

#include "cli/cli.h"
#include "cli_runner.h"
#include "support/test_paths.h"

namespace benchcap::cli {
namespace {

// benchcap-cli on a bench file of tests/data/cli (option refusals are in runs.tsv).
test::CliResult run(const char* bench, std::vector<std::string> args) {
    args.insert(args.begin(),
                {"--interface", "sim:" + (test::testDataDir() / "cli" / bench).string()});
    return test::runCliInProcess(std::move(args));
}

TEST(CliScan, JsonOnTheBuiltInBench) {
    const test::CliResult r = test::runCliInProcess({"--interface", "sim", "scan", "--json"});
    ASSERT_EQ(r.code, kExitDone) << r.err;
    const YAML::Node o = YAML::Load(r.out);
    EXPECT_EQ(o["answer_line"].as<std::string>(), "5 VTK-DEVICES FOUND");
    EXPECT_EQ(o["board_failure"].as<std::string>(), "");
    ASSERT_EQ(o["devices"].size(), 30u);
    EXPECT_EQ(o["devices"][19]["options"].as<std::string>(), "B4,K7\n");
}

TEST(CliScan, ChosenBoard) {
    test::CliResult r = run("two-boards.yaml", {"scan", "--board", "2", "--timeouts", "11:11"});
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
    for (const char* bench : {"two-boards.yaml", "one-board.yaml"}) {
        r = run(bench, {"scan", "--board", "1"});
        EXPECT_EQ(r.code, kExitNoAnswer);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("benchcap-cli scan: no board GPIB1 on this interface (no GPIB "
                             "board 1: ibfind failed with ENEB"),
                  std::string::npos)
            << r.err;
    }
}

TEST(CliBoardConfig, SaveThenLoadOnTheChosenBoard) {
    const std::string ini = (test::makeTempDir("cli-board-config") / "boards.ini").string();
    test::CliResult r =
        run("two-boards.yaml", {"board-config", "save", ini, "LAB1", "--board", "2"});
    ASSERT_EQ(r.code, kExitDone) << r.err;
    EXPECT_NE(test::readFile(ini).find("[LAB1_PCINTEROP]"), std::string::npos);
    EXPECT_NE(r.out.find("LAB1_BOARD\tTimeout_Value\t13\n"), std::string::npos) << r.out;

    std::ofstream(ini) << "[LAB1_BOARD]\nTimeout_Value=11\n";
    r = run("two-boards.yaml", {"board-config", "load", ini, "LAB1", "--board", "2"});
    ASSERT_EQ(r.code, kExitDone) << r.err;
    EXPECT_NE(r.out.find("LAB1_BOARD\tTimeout_Value\t11\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("LAB1_EOS\tEOS_Character\t0\n"), std::string::npos);
    EXPECT_EQ(r.out.find("_PCINTEROP"), std::string::npos);
    // A board the interface does not have, a file that is not there, bad arguments.
    r = run("two-boards.yaml", {"board-config", "save", ini, "LAB1", "--board", "5"});
    EXPECT_EQ(r.code, kExitNoAnswer);
    EXPECT_NE(r.err.find("(no GPIB board 5: ibfind failed with ENEB"), std::string::npos) << r.err;
    EXPECT_EQ(run("two-boards.yaml", {"board-config", "load", ini + "x", "LAB1"}).code,
              kExitNoAnswer);
}

}  // namespace
}  // namespace benchcap::cli
