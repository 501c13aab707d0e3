// benchcap-cli on the driver library: libbenchcap_simgpib.so loaded through LibraryDriver,
// once with the simulated bench behind it and once as a linux-gpib without a board.
#include <gtest/gtest.h>

#include "cli/cli.h"
#include "cli_runner.h"

namespace benchcap::cli {
namespace {

#ifdef SIMGPIB_PATH
const test::CliEnvironment kWithBoard = {{"BENCHCAP_GPIB_LIBRARY", SIMGPIB_PATH},
                                         {"BENCHCAP_SIM_BENCH", std::nullopt},
                                         {"BENCHCAP_SIM_NO_BOARD", std::nullopt}};
const test::CliEnvironment kNoBoard = {{"BENCHCAP_GPIB_LIBRARY", SIMGPIB_PATH},
                                       {"BENCHCAP_SIM_BENCH", std::nullopt},
                                       {"BENCHCAP_SIM_NO_BOARD", "1"}};

constexpr char kIbdevFailed[] =
    "no GPIB board 0: ibdev failed with EDVR: the driver has no such board; see "
    "docs/driver-library.md\n";
constexpr char kIbfindFailed[] =
    "no GPIB board 0: ibfind failed with EDVR: the driver has no such board; see "
    "docs/driver-library.md\n";

TEST(CliOnTheDriverLibrary, IdentifiesThroughTheLibrary) {
    const test::CliResult r =
        test::runCliProcess({"--interface", "library", "idn", "20", "--json"}, kWithBoard);
    EXPECT_EQ(r.code, kExitDone) << r.err;
    EXPECT_NE(r.out.find("\"model\": \"KLVZ\""), std::string::npos) << r.out;
}

TEST(CliOnTheDriverLibrary, WithoutABoardTheBusLayerSaysWhy) {
    const struct {
        std::vector<std::string> args;
        int code;
        std::string err;
    } cases[] = {
        {{"idn", "20"},
         kExitNoAnswer,
         "No device was found on GPIB 20\n" + std::string(kIbdevFailed)},
        {{"query", "20", "*IDN?"},
         kExitNoAnswer,
         "No answer from GPIB 20 to *IDN?\n" + std::string(kIbdevFailed)},
        {{"query", "20", "*IDN?", "--raw"},
         kExitNoAnswer,
         "No answer from GPIB 20 to *IDN?\n" + std::string(kIbdevFailed)},
        {{"scan"},
         kExitNoAnswer,
         "benchcap-cli scan: no GPIB card found!\n" + std::string(kIbfindFailed)},
        {{"scan", "--board", "0"},
         kExitNoAnswer,
         "benchcap-cli scan: no board GPIB0 on this interface (" +
             std::string(kIbfindFailed).substr(0, sizeof kIbfindFailed - 2) + ")\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0]);
        std::vector<std::string> args = {"--interface", "library"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        // In this process and as the program: the same words.
        for (const test::CliResult& r :
             {test::runCliInProcess(args, kNoBoard), test::runCliProcess(args, kNoBoard)}) {
            EXPECT_EQ(r.code, c.code);
            EXPECT_EQ(r.err, c.err);
        }
    }
    // The reason goes to JSON output as data, not to stderr.
    const test::CliResult r =
        test::runCliInProcess({"--interface", "library", "scan", "--json"}, kNoBoard);
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("\"board_failure\": \"no GPIB board 0: ibfind failed with EDVR"),
              std::string::npos)
        << r.out;
}
#else
TEST(CliOnTheDriverLibrary, WithoutABoardTheBusLayerSaysWhy) {
    GTEST_SKIP() << "libbenchcap_simgpib.so is not built";
}
#endif

}  // namespace
}  // namespace benchcap::cli
