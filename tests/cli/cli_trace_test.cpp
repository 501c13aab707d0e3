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

// Messages go to stderr, nothing to stdout; refusals of the instrument exit 1, bad
// arguments 2.
TEST(CliTrace, FailuresAndBadArguments) {
    const std::string badBlock = test::simBench(
        "instruments:\n  - {address: 4, kind: spectrum-analyzer, idn: \"Veltronik,KLR20,1,3.1\", "
        "faults: {block_header: \"#0\"}}\n");
    const struct {
        std::string interface;
        std::vector<std::string> args;
        int code;
        std::string err;  // all of stderr when it ends in a line feed, else a part of it
    } cases[] = {
        {"sim", {"7", "4"}, 1, "Trace 4 is not supported by the instrument!\n"},
        {"sim", {"9", "1"}, 1, "Trace data is not supported for KLD\n"},
        {"sim", {"12", "4"}, 1, "Trace 4 is not activated!\n"},
        {"sim", {"25", "1"}, 1, "No device was found on GPIB 25\n"},
        {"sim",
         {"12", "1", "-o", "/nonexistent/T.TXT"},
         1,
         "Cannot write \"/nonexistent/T.TXT\": No such file"},
        // The instrument's fault is named before the output file's.
        {badBlock, {"4", "1", "-o", "/nonexistent/T.TXT"}, 1, "block header"},
        {"sim", {"20"}, 2, ""},
        {"sim", {"0", "1"}, 2, ""},
        {"sim", {"20", "one"}, 2, ""},
        {"sim", {"20", "1", "-o"}, 2, ""},
        {"sim", {"20", "1", "extra"}, 2, ""},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"--interface", c.interface, "trace"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const test::CliResult r = runCliInProcess(args);
        SCOPED_TRACE(c.args[0] + " " + c.args.back());
        EXPECT_EQ(r.code, c.code);
        if (!c.err.empty() && c.err.back() == '\n')
            EXPECT_EQ(r.err, c.err);
        else
            EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
}

TEST(DecimalSeparator, FromLocaleNames) {
    for (const char* comma : {"de_DE", "de_DE.UTF-8", "fr_FR"})
        EXPECT_EQ(decimalSeparatorFor(comma), ',') << comma;
    for (const char* point : {"en_US.UTF-8", "de_CH", "C", ""})
        EXPECT_EQ(decimalSeparatorFor(point), '.') << point;
}

}  // namespace
}  // namespace benchcap::cli
