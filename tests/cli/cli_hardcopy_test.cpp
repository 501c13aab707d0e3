#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "cli_runner.h"
#include "support/bench_texts.h"
#include "support/test_paths.h"

namespace benchcap::test {
namespace {

constexpr const char* kBench = ::benchcap::test::kStandardBench;

TEST(CliHardcopy, WritesThePictureOrSaysWhyNot) {
    const std::string bench = simBench(kBench);
    const auto dir = makeTempDir("cli-hardcopy");
    auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"--interface", bench, "hardcopy"});
        return runCliInProcess(std::move(args));
    };
    const auto wmf = (dir / "shot.wmf").string();
    CliResult r = run({"16", "--format", "WMF", "--bw", "-o", wmf});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(readFile(wmf).substr(0, 4), "\xD7\xCD\xC6\x9A");

    // Without --format the output's extension chooses (refusals are in runs.tsv).
    const auto named = (dir / "named.WMF").string();
    EXPECT_EQ(run({"16", "-o", named}).code, 0);
    EXPECT_EQ(readFile(named).substr(0, 4), "\xD7\xCD\xC6\x9A");
    const auto hgl = (dir / "plot.hgl").string();
    r = run({"9", "--plotter", "-o", hgl});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(readFile(hgl).rfind("IN;", 0), 0u);
}

TEST(CliHardcopy, HeaderAnnouncingLessThanSentKeepsTheEarlierFile) {
    const std::string bench = simBench(
        "instruments:\n  - {address: 16, kind: network-analyzer, idn: "
        "\"Veltronik,NQD8,100321/002,1.45\", faults: {block_header: \"#12\"}}\n");
    const auto dir = makeTempDir("cli-hardcopy-lie");
    const auto bmp = dir / "shot.bmp";
    std::ofstream(bmp) << "earlier picture";
    const CliResult r =
        runCliInProcess({"--interface", bench, "hardcopy", "16", "-o", bmp.string()});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out.find("written"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("announced 2 bytes, but more data followed"), std::string::npos) << r.err;
    EXPECT_EQ(readFile(bmp), "earlier picture");
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir))
        ++files;
    EXPECT_EQ(files, 1u);
}

}  // namespace
}  // namespace benchcap::test
