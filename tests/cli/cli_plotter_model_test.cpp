#include <gtest/gtest.h>

#include "cli_runner.h"
#include "support/test_paths.h"

namespace benchcap::test {
namespace {

// An instrument set up for a 7475A asks the plotter who it is: it plots only when the
// capture answers as that model.
TEST(CliHardcopy, PlotterModelIsWhatTheCaptureAnswersAs) {
    const std::string bench = simBench(R"(instruments:
  - {address: 9, kind: plotter-only, idn: "Veltronik,KLD4,100455/007,1.02",
     plot_queries: [OI], plotter_model: 7475A}
)");
    const auto hgl = (makeTempDir("cli-plotter-model") / "plot.hgl").string();
    auto run = [&](std::vector<std::string> more) {
        std::vector<std::string> args = {"--interface", bench, "hardcopy", "9",
                                         "--plotter",   "-o",  hgl};
        args.insert(args.end(), more.begin(), more.end());
        return runCliInProcess(std::move(args));
    };
    EXPECT_EQ(run({}).code, 0);
    EXPECT_EQ(readFile(hgl), "OI;\r\n\r\n");  // a 7470A: the instrument gives up
    const CliResult r = run({"--plotter-model", "7475A"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(readFile(hgl).find("LBSPAN"), std::string::npos);
    const CliResult bad = run({"--plotter-model", "7440A"});
    EXPECT_EQ(bad.code, 2);
    EXPECT_EQ(bad.err,
              "benchcap-cli hardcopy: --plotter-model must be 7470A or 7475A, not '7440A'\n");
}

}  // namespace
}  // namespace benchcap::test
