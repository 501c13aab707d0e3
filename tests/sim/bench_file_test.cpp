#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <set>

#include "interfaces/interface_table.h"
#include "sim/bench_config.h"
#include "sim/instrument_kinds.h"
#include "sim/sim_bench.h"
#include "support/golden.h"
#include "support/test_paths.h"

namespace benchcap::sim {
namespace {

std::string errorOf(const std::string& yaml) {
    return parseBenchText(yaml, "b.yaml").error();
}

TEST(BenchFile, ReadsBoardsInstrumentsAndDefaults) {
    const Result<BenchConfig> r = parseBenchText(R"(
boards: [2, 0]
clock: virtual
instruments:
  - address: 20
    kind: vector-analyzer
    idn: "Veltronik,KLVZ26,100234/003,2.10"
    options: "B4,K7"
  - {address: 4, kind: silent, board: 2}
)",
                                                 "b.yaml");
    ASSERT_EQ(r.error(), "");
    EXPECT_EQ(r->boards, (std::vector<int>{2, 0}));
    ASSERT_EQ(r->instruments.size(), 2u);
    EXPECT_EQ(r->instruments[0].board, 0);  // the lowest board by default
    EXPECT_EQ(r->instruments[0].options, "B4,K7");
    EXPECT_EQ(r->instruments[1].board, 2);
    EXPECT_EQ(r->instruments[1].where, "b.yaml:9");
    EXPECT_FALSE(r->realTime);
}

// Refusals name the file, the line and the key: unknown keys and kinds, values of the
// wrong type or out of the key's own range, keys given twice, boards not on the bench.
TEST(BenchFile, RefusesWithFileLineAndKey) {
    test::checkGolden("golden/bench-file-errors.txt",
                      [](const std::string& yaml) { return errorOf(yaml) + "\n"; });
    // The kinds known and the YAML reader's own words may change: only their part is pinned.
    EXPECT_NE(
        errorOf("instruments:\n  - {address: 3, kind: toaster}\n").find("unknown kind 'toaster'"),
        std::string::npos);
    EXPECT_NE(errorOf("instruments: [\n").find("b.yaml:"), std::string::npos);
    EXPECT_EQ(loadBenchFile("/nonexistent/bench.yaml").error(),
              "/nonexistent/bench.yaml: cannot open the bench file");
}

TEST(BenchFile, RefusesFilesThatAreNoBenchText) {
    const auto dir = test::makeTempDir("benchfile");
    EXPECT_EQ(loadBenchFile(dir.string()).error(),
              dir.string() + ": the bench file is no regular file");
    EXPECT_EQ(loadBenchFile("/dev/zero").error(), "/dev/zero: the bench file is no regular file");
    const auto big = dir / "big.yaml";
    std::ofstream(big) << "# " << std::string(2 << 20, 'x') << "\n";
    EXPECT_EQ(loadBenchFile(big.string()).error(),
              big.string() + ": the bench file is larger than 1 MB");

    // A plot file is checked when the bench is loaded; a huge one is refused.
    const auto plot = dir / "huge.hpgl";
    { std::ofstream create(plot); }
    std::filesystem::resize_file(plot, std::uintmax_t{300} << 20);  // sparse: costs no disk
    std::ofstream(dir / "bench.yaml")
        << "instruments:\n  - {address: 9, kind: plotter-only, plot_file: huge.hpgl}\n";
    EXPECT_EQ(loadBenchFile((dir / "bench.yaml").string()).error(),
              (dir / "bench.yaml").string() + ":2: key 'plot_file': '" + plot.string() +
                  "' is larger than 256 MB");
}

TEST(BenchFile, BuiltInBenchHasEveryKindAndTheVectorAnalyzerAt20) {
    const BenchConfig bench = builtinBench();
    std::set<std::string> kinds;
    for (const auto& i : bench.instruments) {
        kinds.insert(i.kind);
        if (i.address == 20) {
            EXPECT_EQ(i.kind, "vector-analyzer");
            EXPECT_EQ(i.idn.rfind("Veltronik,KLVZ", 0), 0u);
        }
    }
    EXPECT_EQ(kinds, std::set<std::string>(instrumentKinds().begin(), instrumentKinds().end()));
}

TEST(BenchFile, TheDocumentedExampleLoads) {
    // docs/bench-file.md carries a complete example between the markers.
    const std::string doc = test::readFile(test::sourceDir() / "docs" / "bench-file.md");
    const auto begin = doc.find("```yaml\n");
    const auto end = doc.find("```", begin + 8);
    ASSERT_NE(begin, std::string::npos);
    const Result<BenchConfig> r = parseBenchText(doc.substr(begin + 8, end - begin - 8), "doc");
    ASSERT_EQ(r.error(), "");
    EXPECT_FALSE(r->instruments.empty());
}

// Each --interface text is read once into its kind and its bench file or adapter address;
// the list of interfaces in a refusal grows with the backends, so only its start is kept.
using interfaces::InterfaceChoice;
using interfaces::parseInterfaceChoice;

TEST(InterfaceChoice, EachTextIsReadOnceIntoItsKind) {
    test::checkGolden("golden/interface-choices.txt", [](const std::string& text) {
        const Result<InterfaceChoice> choice = parseInterfaceChoice(text);
        static const char* kKinds[] = {"library", "sim", "prologix"};
        return !choice
                   ? "refused: " + choice.error().substr(0, choice.error().find(", sim:")) + "\n"
                   : std::string(kKinds[static_cast<int>(choice->kind)]) + " \"" +
                         choice->benchFile + "\" \"" +
                         (choice->kind == InterfaceChoice::Kind::Prologix ? choice->adapter.text()
                                                                          : "") +
                         "\"\n";
    });
}

}  // namespace
}  // namespace benchcap::sim
