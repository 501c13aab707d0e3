// benchcap-cli on the driver library: libbenchcap_simgpib.so loaded through LibraryDriver
// with the simulated bench behind it (without a board: runs.tsv).
#include <gtest/gtest.h>

#include "cli/cli.h"
#include "cli_runner.h"

namespace benchcap::cli {
namespace {

#ifdef SIMGPIB_PATH
TEST(CliOnTheDriverLibrary, IdentifiesThroughTheLibrary) {
    const test::CliResult r = test::runCliProcess({"--interface", "library", "idn", "20", "--json"},
                                                  {{"BENCHCAP_GPIB_LIBRARY", SIMGPIB_PATH},
                                                   {"BENCHCAP_SIM_BENCH", std::nullopt},
                                                   {"BENCHCAP_SIM_NO_BOARD", std::nullopt}});
    EXPECT_EQ(r.code, kExitDone) << r.err;
    EXPECT_NE(r.out.find("\"model\": \"KLVZ\""), std::string::npos) << r.out;
}
#endif

}  // namespace
}  // namespace benchcap::cli
