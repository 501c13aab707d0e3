#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "cli/cli.h"
#include "support/test_paths.h"

namespace benchcap::cli {
namespace {

struct CliRun {
    int code;
    std::string out;
    std::string err;
};

CliRun run(std::vector<std::string> args) {
    std::ostringstream out, err;
    const int code = runCli(args, out, err);
    return {code, out.str(), err.str()};
}

std::string benchFile(const std::string& yaml) {
    const auto path = test::makeTempDir("cli") / "bench.yaml";
    std::ofstream(path) << "clock: virtual\n" << yaml;
    return "sim:" + path.string();
}

TEST(CliIdn, IdentifiesTheBuiltInVectorAnalyzer) {
    const CliRun r = run({"--interface", "sim", "idn", "20", "--json"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out,
              "{\"address\": 20, \"idn\": \"Veltronik,KLVZ26,100234/003,2.10\\n\", \"model\": "
              "\"KLVZ\", \"full_support\": true, \"ready\": true, \"firmware\": 2.1, "
              "\"firmware_ok\": true, \"hardcopy_drive\": \"C\", \"message\": \"\"}\n");
}

TEST(CliIdn, OddIdentificationAnswers) {
    const std::string bench = benchFile(R"(
instruments:
  - {address: 1, kind: spectrum-analyzer, idn: "Veltronik,KLR20,1,1.6"}
  - {address: 2, kind: other-maker, idn: "Veltronik,"}
  - {address: 3, kind: other-maker, idn: "no commas at all"}
  - {address: 4, kind: spectrum-analyzer, idn: "Veltronik,KLT-3,1,"}
  - {address: 5, kind: silent}
  - {address: 6, kind: other-maker, idn: "\u00e9\u0001,KLW2,1,2.5"}
)");
    CliRun r = run({"--interface", bench, "idn", "1", "--json"});
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("\"firmware_ok\": false"), std::string::npos);
    EXPECT_NE(
        r.out.find("\"message\": \"You need firmware version 1.65 to read out hardcopies over "
                   "IEEE-bus.\\nYou have firmware version 1.60\""),
        std::string::npos);

    r = run({"--interface", bench, "idn", "2", "--json"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("\"model\": \"unknown\""), std::string::npos);

    r = run({"--interface", bench, "idn", "3"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("model:          unknown"), std::string::npos);

    r = run({"--interface", bench, "idn", "4", "--json"});
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("\"firmware\": 0,"), std::string::npos);

    r = run({"--interface", bench, "idn", "5"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("No device was found on GPIB 5"), std::string::npos);

    r = run({"--interface", bench, "idn", "6", "--json"});
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("\"idn\": \"\\u00c3\\u00a9\\u0001,KLW2"), std::string::npos);
}

TEST(CliIdn, BadArgumentsAndUnusableInterfaces) {
    EXPECT_EQ(run({"--interface", "sim", "idn", "31"}).code, 2);
    EXPECT_EQ(run({"--interface", "sim", "idn"}).code, 2);
    EXPECT_EQ(run({"--interface", "sim", "frobnicate"}).code, 2);
    EXPECT_EQ(run({"--interface", "carrier-pigeon", "idn", "20"}).code, 2);
    const CliRun r = run({"--interface", "sim:/nonexistent.yaml", "idn", "20"});
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("/nonexistent.yaml: cannot open the bench file"), std::string::npos);
}

TEST(CliQuery, PrintsTheAnswer) {
    const CliRun r = run({"--interface", "sim", "query", "3", "*IDN?"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "Acme Instruments,AI-2000,12345,1.0\n");
}

}  // namespace
}  // namespace benchcap::cli
