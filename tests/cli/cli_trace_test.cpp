#include <gtest/gtest.h>

#include "cli/cli.h"
#include "cli_runner.h"
#include "support/test_paths.h"

namespace benchcap::cli {
namespace {

using test::runCliInProcess;

// The text format is the trace library's; here: stdout or the file, and the locale's comma.
TEST(CliTrace, PrintsTheTraceOrWritesTheTxtFileWithARegionalComma) {
    const test::CliResult r =
        runCliInProcess({"--interface", "sim", "trace", "20", "1", "--locale", "en_US"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, 2), "0\t");
    const std::string bench = test::simBench(
        "instruments:\n  - {address: 4, kind: spectrum-analyzer, idn: \"Veltronik,KLR20,1,3.1\", "
        "points: 3, center_hz: 1000, span_hz: 500}\n");
    const auto file = test::makeTempDir("clitrace") / "T.TXT";
    const test::CliResult f = runCliInProcess(
        {"--interface", bench, "trace", "4", "1", "-o", file.string(), "--locale", "de_DE"});
    EXPECT_EQ(f.code, 0) << f.err;
    EXPECT_EQ(f.out, "");
    const std::string content = test::readFile(file);
    EXPECT_EQ(content.substr(0, 4), "750\t");
    EXPECT_NE(content.find(','), std::string::npos);
}

TEST(DecimalSeparator, FromLocaleNames) {
    for (const char* comma : {"de_DE", "de_DE.UTF-8", "fr_FR"})
        EXPECT_EQ(decimalSeparatorFor(comma), ',') << comma;
    for (const char* point : {"en_US.UTF-8", "de_CH", "C", ""})
        EXPECT_EQ(decimalSeparatorFor(point), '.') << point;
}

}  // namespace
}  // namespace benchcap::cli
