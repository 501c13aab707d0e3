#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "cli/cli.h"
#include "support/test_paths.h"

namespace benchcap::cli {
namespace {

struct Outcome {
    int code;
    std::string out;
    std::string err;
};

Outcome boardConfig(const std::string& bench, const std::vector<std::string>& options) {
    std::vector<std::string> args = {"--interface", "sim:" + bench, "board-config"};
    args.insert(args.end(), options.begin(), options.end());
    std::ostringstream out;
    std::ostringstream err;
    const int code = runCli(args, out, err);
    return {code, out.str(), err.str()};
}

TEST(CliBoardConfig, SaveThenLoadOnTheChosenBoard) {
    const auto dir = test::makeTempDir("cli-board-config");
    const std::string bench = (dir / "bench.yaml").string();
    std::ofstream(bench) << "boards: [0, 3]\nclock: virtual\n";
    const std::string ini = (dir / "boards.ini").string();

    Outcome r = boardConfig(bench, {"save", ini, "LAB1", "--board", "3"});
    ASSERT_EQ(r.code, kExitDone) << r.err;
    const std::string saved = test::readFile(ini);
    EXPECT_NE(saved.find("[LAB1_BOARD]"), std::string::npos);
    EXPECT_NE(saved.find("[LAB1_PCINTEROP]"), std::string::npos);
    EXPECT_NE(r.out.find("LAB1_BOARD\tTimeout_Value\t13\n"), std::string::npos) << r.out;

    std::ofstream(ini) << "[LAB1_BOARD]\nTimeout_Value=11\nPrimary_Address=5\n";
    r = boardConfig(bench, {"load", ini, "LAB1", "--board", "3"});
    ASSERT_EQ(r.code, kExitDone) << r.err;
    EXPECT_NE(r.out.find("LAB1_BOARD\tTimeout_Value\t11\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("LAB1_BOARD\tPrimary_Address\t5\n"), std::string::npos);
    EXPECT_NE(r.out.find("LAB1_EOS\tEOS_Character\t0\n"), std::string::npos);
    EXPECT_EQ(r.out.find("_PCINTEROP"), std::string::npos);

    // A board the interface does not have, a file that is not there, bad arguments.
    EXPECT_EQ(boardConfig(bench, {"save", ini, "LAB1", "--board", "5"}).code, kExitNoAnswer);
    EXPECT_EQ(boardConfig(bench, {"load", (dir / "none.ini").string(), "LAB1"}).code,
              kExitNoAnswer);
    EXPECT_EQ(boardConfig(bench, {"keep", ini, "LAB1"}).code, kExitUsage);
    EXPECT_EQ(boardConfig(bench, {"save", ini}).code, kExitUsage);
    EXPECT_EQ(boardConfig(bench, {"save", ini, "LAB1", "--board", "12"}).code, kExitUsage);
}

}  // namespace
}  // namespace benchcap::cli
