#include <gtest/gtest.h>

#include "cli/cli.h"
#include "cli_runner.h"
#include "support/test_paths.h"

namespace benchcap::cli {
namespace {

using TraceRun = test::CliResult;

TraceRun run(std::vector<std::string> args) {
    return test::runCliInProcess(std::move(args));
}

std::string benchFile(const std::string& yaml) {
    return test::simBench(yaml);
}

int countLines(const std::string& text) {
    int n = 0;
    for (std::size_t p = text.find("\r\n"); p != std::string::npos; p = text.find("\r\n", p + 2))
        ++n;
    return n;
}

TEST(CliTrace, PrintsTheBuiltInVectorAnalyzersTrace) {
    const TraceRun r = run({"--interface", "sim", "trace", "20", "1", "--locale", "en_US"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(countLines(r.out), 400);  // 100 symbols, 4 points each, I and Q
    EXPECT_EQ(r.out.substr(0, 2), "0\t");
    EXPECT_EQ(r.out.substr(r.out.size() - 2), "\r\n");
}

TEST(CliTrace, WritesTheTxtFileWithARegionalComma) {
    const std::string bench = benchFile(R"(
instruments:
  - {address: 4, kind: spectrum-analyzer, idn: "Veltronik,KLR20,1,3.1", points: 3,
     center_hz: 1000, span_hz: 500}
)");
    const auto file = test::makeTempDir("clitrace") / "T.TXT";
    const TraceRun r =
        run({"--interface", bench, "trace", "4", "1", "-o", file.string(), "--locale", "de_DE"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "");
    const std::string content = test::readFile(file);
    EXPECT_EQ(content.substr(0, 4), "750\t");
    EXPECT_EQ(content.find("\r\n1000\t"), content.find("\r\n"));
    EXPECT_NE(content.find(','), std::string::npos);
    EXPECT_EQ(content.substr(content.size() - 4), "\r\n\r\n");
    EXPECT_EQ(countLines(content), 4);
}

TEST(CliTrace, MessagesGoToStderrWithExitCodeOne) {
    TraceRun r = run({"--interface", "sim", "trace", "7", "4"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "Trace 4 is not supported by the instrument!\n");
    EXPECT_EQ(r.out, "");

    r = run({"--interface", "sim", "trace", "9", "1"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "Trace data is not supported for KLD\n");

    r = run({"--interface", "sim", "trace", "12", "4"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "Trace 4 is not activated!\n");

    r = run({"--interface", "sim", "trace", "25", "1"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "No device was found on GPIB 25\n");

    const std::string bench = benchFile(R"(
instruments:
  - {address: 4, kind: spectrum-analyzer, idn: "Veltronik,KLR20,1,3.1", faults: {block_header: "#0"}}
)");
    r = run({"--interface", bench, "trace", "4", "1", "-o", "/nonexistent/T.TXT"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("block header"), std::string::npos) << r.err;
}

TEST(CliTrace, UnwritableOutputFileIsReported) {
    const TraceRun r = run({"--interface", "sim", "trace", "12", "1", "-o", "/nonexistent/T.TXT"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("Cannot write \"/nonexistent/T.TXT\": No such file"), std::string::npos)
        << r.err;
}

TEST(CliTrace, BadArguments) {
    EXPECT_EQ(run({"--interface", "sim", "trace", "20"}).code, 2);
    EXPECT_EQ(run({"--interface", "sim", "trace", "0", "1"}).code, 2);
    EXPECT_EQ(run({"--interface", "sim", "trace", "20", "one"}).code, 2);
    EXPECT_EQ(run({"--interface", "sim", "trace", "20", "1", "-o"}).code, 2);
    EXPECT_EQ(run({"--interface", "sim", "trace", "20", "1", "extra"}).code, 2);
}

TEST(DecimalSeparator, FromLocaleNames) {
    EXPECT_EQ(decimalSeparatorFor("de_DE"), ',');
    EXPECT_EQ(decimalSeparatorFor("de_DE.UTF-8"), ',');
    EXPECT_EQ(decimalSeparatorFor("fr_FR"), ',');
    EXPECT_EQ(decimalSeparatorFor("en_US.UTF-8"), '.');
    EXPECT_EQ(decimalSeparatorFor("de_CH"), '.');
    EXPECT_EQ(decimalSeparatorFor("C"), '.');
    EXPECT_EQ(decimalSeparatorFor(""), '.');
}

}  // namespace
}  // namespace benchcap::cli
