// The whole program through the LAN emulators on loopback: a VXI-11 gateway, LAN
// instruments over VXI-11 and over raw sockets give the same tables, files and texts as the
// simulated bench directly.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "../cli/cli_runner.h"
#include "lan_rig.h"
#include "support/test_paths.h"

namespace benchcap::test {
namespace {

enum class Path { Gateway, LanVxi11, LanSocket };

std::string slurp(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The --interface value that reaches addresses 7 and 20 of `rig` along `path`.
std::string interfaceFor(Path path, const LanRig& rig, const std::filesystem::path& dir) {
    if (path == Path::Gateway)
        return "vxi11:" + rig.gateway();
    const auto file = dir / "bench.lan";
    std::ofstream out(file);
    out << "# the two instruments of the test\n";
    if (path == Path::LanVxi11)
        out << "7 = vxi11://" << rig.gateway() << "/inst7\n20 = vxi11://" << rig.gateway()
            << "/inst20\n28 = vxi11://" << rig.gateway() << "/inst28\n";
    else
        out << " 7 = " << rig.socket(0) << "  # trace\n\n20=" << rig.socket(1)
            << "\n28 = " << rig.socket(2) << "  # a generator: its picture comes as a block\n";
    return "lan:" + file.string();
}

class ThroughLan : public ::testing::TestWithParam<Path> {};

TEST_P(ThroughLan, FilesAndAnswersAreTheBenchs) {
    const auto dir = makeTempDir("lan-files");
    struct Run {
        std::vector<std::string> args;
        std::string file;  // empty: compare the standard output
    } runs[] = {
        {{"hardcopy", "20", "--format", "WMF", "-o"}, "shot.wmf"},
        {{"hardcopy", "20", "--format", "BMP", "-o"}, "shot.bmp"},
        {{"hardcopy", "28", "-o"}, "generator.bmp"},
        {{"trace", "7", "1", "-o"}, "trace.txt"},
        {{"idn", "20"}, ""},
        {{"scan"}, ""},
    };
    for (const auto& run : runs) {
        if (run.args[0] == "scan" && GetParam() != Path::Gateway)
            continue;  // a LAN bus file has only the instruments it names
        // A fresh bench for each run, as the direct run gets one.
        LanRig rig({}, {7, 20, 28});
        std::vector<std::string> viaLan = {"--interface", interfaceFor(GetParam(), rig, dir)};
        std::vector<std::string> viaBench = {"--interface", "sim"};
        for (auto* args : {&viaLan, &viaBench})
            args->insert(args->end(), run.args.begin(), run.args.end());
        if (!run.file.empty()) {
            viaLan.push_back((dir / ("l-" + run.file)).string());
            viaBench.push_back((dir / ("s-" + run.file)).string());
        }
        const CliResult l = runCliInProcess(viaLan);
        const CliResult s = runCliInProcess(viaBench);
        ASSERT_EQ(l.code, 0) << run.args[0] << ": " << l.err;
        ASSERT_EQ(s.code, 0) << s.err;
        if (run.file.empty()) {
            EXPECT_EQ(l.out, s.out) << run.args[0];
            continue;
        }
        const std::string fromLan = slurp(dir / ("l-" + run.file));
        EXPECT_FALSE(fromLan.empty()) << run.file;
        EXPECT_TRUE(fromLan == slurp(dir / ("s-" + run.file))) << run.file << " differs";
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, ThroughLan,
                         ::testing::Values(Path::Gateway, Path::LanVxi11, Path::LanSocket),
                         [](const auto& info) {
                             return std::string(info.param == Path::Gateway    ? "Gateway"
                                                : info.param == Path::LanVxi11 ? "LanVxi11"
                                                                               : "LanSocket");
                         });

TEST(LanInterfaces, SystemReportSaysWhetherTheGatewayAnswers) {
    LanRig rig;
    const CliResult up =
        runCliInProcess({"--interface", "vxi11:" + rig.gateway(), "--system-info"});
    EXPECT_NE(up.out.find("VXI-11 gateway: " + rig.gateway() + ": answers\n"), std::string::npos)
        << up.out;
    const CliResult down = runCliInProcess({"--interface", "vxi11:127.0.0.1:1", "--system-info"});
    EXPECT_NE(down.out.find("VXI-11 gateway: 127.0.0.1:1: no "), std::string::npos) << down.out;
}

TEST(LanInterfaces, RefusedChoicesSayWhy) {
    const auto dir = makeTempDir("lan-bad");
    std::ofstream(dir / "bad.lan") << "7 = vxi11://host/inst0\n31 = socket://host:5025\n";
    struct Row {
        std::vector<std::string> args;
        std::string says;
    } rows[] = {
        {{"--interface", "vxi11:[::1", "idn", "7"}, "[ADDRESS]"},
        {{"--interface", "vxi11:gw/usb0", "idn", "7"}, "gpibN"},
        {{"--interface", "lan:" + (dir / "bad.lan").string(), "idn", "7"}, "line 2"},
        {{"--interface", "lan:" + (dir / "none.lan").string(), "idn", "7"}, "cannot read"},
        {{"vxi11-sim"}, "--listen"},
        {{"socket-sim", "--listen", "127.0.0.1:0", "--address", "31"}, "1 to 30"},
    };
    for (const auto& row : rows) {
        const CliResult r = runCliInProcess(row.args);
        EXPECT_EQ(r.code, 2) << row.args[1] << ": " << r.err;
        EXPECT_NE(r.err.find(row.says), std::string::npos) << r.err;
    }
}

}  // namespace
}  // namespace benchcap::test
