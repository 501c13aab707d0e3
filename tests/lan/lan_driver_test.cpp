// The LAN driver against gateways that misbehave in known ways, and its readers of outside
// input: RPC records and replies, LAN bus files.
#include <gtest/gtest.h>

#include <chrono>
#include <map>

#include <sys/resource.h>
#include <filesystem>
#include <fstream>
#include "../cli/cli_runner.h"
#include "bus/lan/lan_resource.h"
#include "bus/lan/rpc_record.h"
#include "lan_rig.h"
#include "support/test_paths.h"

namespace benchcap::test {
namespace {

using namespace bus::ibsta_bits;
namespace err = bus::iberr_codes;
namespace tmo = bus::timeout_codes;

enum class Action { Query, LongWrite, Local, Clear };

struct Outcome {
    int sta = 0;
    bus::DriverStatus status;
    std::string text;
};

// The first failing call's status, or the last call's.
Outcome act(bus::lan::LanDriver& driver, Action action, int address, int timeout) {
    const int ud = driver.ibdev(0, address, 0, timeout, 1, 0);
    Outcome o;
    auto done = [&](int sta) {
        o.sta = sta;
        o.status = driver.status();
        return (sta & ERR) != 0;
    };
    if (action == Action::LongWrite) {
        const std::string data = "DATA #44990" + std::string(4990, '\x0A');
        done(driver.ibwrt(ud, data.data(), static_cast<long>(data.size())));
        return o;
    }
    if (done(driver.ibwrt(ud, "*IDN?", 5)))
        return o;
    // The unread answer goes with the clear: the read after it hears nothing.
    if (action == Action::Clear && done(driver.ibclr(ud)))
        return o;
    std::string buffer(200, '\0');
    if (done(driver.ibrd(ud, buffer.data(), 200)))
        return o;
    o.text = buffer.substr(0, static_cast<size_t>(o.status.ibcntl));
    if (action == Action::Local)
        done(driver.ibloc(ud));
    return o;
}

sim::Vxi11ServerOptions gatewayWith(uint32_t maxRecvSize = 64 * 1024, uint32_t readPiece = 0,
                                    int64_t silentAfterBytes = -1,
                                    std::map<uint32_t, uint32_t> forcedErrors = {}) {
    sim::Vxi11ServerOptions o;
    o.maxRecvSize = maxRecvSize;
    o.readPiece = readPiece;
    o.silentAfterBytes = silentAfterBytes;
    o.forcedErrors = std::move(forcedErrors);
    return o;
}

TEST(LanDriver, GatewayFaultsBecomeBoardStatus) {
    const std::string idn = "Veltronik,KLVZ26,100234/003,2.10\n";
    struct Row {
        const char* name;
        sim::Vxi11ServerOptions server;
        int address = 20;
        Action action = Action::Query;
        int timeout = tmo::T1s;
        int portmapper = 0;  // 0: the core port given; 1: ask the rig's; -1: ask a closed one
        bool interrupt = false;
        int sta = 0;  // bits that must be set
        int iberr = -1;
        long count = -1;
        std::string text;
        std::string problem;
    };
    const std::vector<Row> rows = {
        {"answer via the portmapper", gatewayWith(), 20, Action::Query, tmo::T1s, 1, false,
         CMPL | END, -1, 33, idn, ""},
        {"link refused", gatewayWith(), 5, Action::Query, tmo::T1s, 0, false, ERR, err::ENOL, 0, "",
         "refused a link: VXI-11 error 3 (device not accessible)"},
        {"max_recv_size 1 KiB", gatewayWith(1024), 20, Action::LongWrite, tmo::T1s, 0, false, CMPL,
         -1, 5001, "", ""},
        {"many small pieces", gatewayWith(65536, 3), 20, Action::Query, tmo::T1s, 0, false,
         CMPL | END, -1, 33, idn, ""},
        {"stops answering mid-block", gatewayWith(65536, 4, 6), 20, Action::Query, tmo::T1s, 0,
         false, ERR | TIMO, err::EABO, 4, "", "device_read failed: no reply in time"},
        {"stop request", gatewayWith(65536, 0, 0), 20, Action::Query, tmo::T10s, 0, true, ERR,
         err::EABO, -1, "", "interrupted"},
        {"device locked", gatewayWith(65536, 0, -1, {{11, 11}}), 20, Action::Query, tmo::T1s, 0,
         false, ERR, err::EDVR, 0, "",
         "device_write failed with VXI-11 error 11 (device locked by another"},
        {"I/O timeout", gatewayWith(65536, 0, -1, {{12, 15}}), 20, Action::Query, tmo::T1s, 0,
         false, ERR | TIMO, err::EABO, 0, "", "error 15 (I/O timeout)"},
        {"local not supported", gatewayWith(65536, 0, -1, {{17, 8}}), 20, Action::Local, tmo::T1s,
         0, false, ERR, err::ECAP, -1, idn, "device_local failed"},
        {"clear", gatewayWith(), 20, Action::Clear, tmo::T300ms, 0, false, ERR | TIMO, err::EABO, 0,
         "", "device_read failed"},
        {"no portmapper", gatewayWith(), 20, Action::Query, tmo::T1s, -1, false, ERR, err::EDVR, -1,
         "", "portmapper: cannot connect to 127.0.0.1:"},
    };
    for (const Row& row : rows) {
        LanRig rig(row.server);
        bus::lan::LanOptions options = loopbackLanOptions();
        auto gateway = bus::lan::parseGatewayAddress(rig.gateway()).value();
        if (row.portmapper != 0) {
            gateway.port = 0;
            options.portmapperPort = row.portmapper > 0 ? rig.portmapperPort() : 1;
        }
        auto driver = bus::lan::makeGatewayDriver(gateway, options);
        if (row.interrupt)
            driver->setInterruptCheck([] { return true; });
        const auto start = std::chrono::steady_clock::now();
        const Outcome o = act(*driver, row.action, row.address, row.timeout);
        const auto millis = millisSince(start);
        EXPECT_EQ(o.sta & row.sta, row.sta) << row.name << ": " << std::hex << o.sta;
        if (!(row.sta & ERR)) {
            EXPECT_FALSE(o.sta & ERR) << row.name << ": " << driver->lastProblem();
        }
        if (row.iberr >= 0) {
            EXPECT_EQ(o.status.iberr, row.iberr) << row.name;
        }
        if (row.count >= 0) {
            EXPECT_EQ(o.status.ibcntl, row.count) << row.name;
        }
        EXPECT_EQ(o.text, row.text) << row.name;
        EXPECT_NE(driver->lastProblem().find(row.problem), std::string::npos)
            << row.name << ": " << driver->lastProblem();
        // Every failure names the gateway; every call ends within its time-out.
        if (row.sta & ERR) {
            EXPECT_NE(driver->lastProblem().find("VXI-11 gateway 127.0.0.1"), std::string::npos);
        }
        EXPECT_LT(millis, bus::timeoutMicros(row.timeout) / 1000 + 800) << row.name;
    }
}

TEST(LanDriver, GatewayCannotBeAPlotterListener) {
    LanRig rig;
    auto driver = rig.gatewayDriver();
    EXPECT_EQ(driver->ibrsc(0, 0), ERR);
    EXPECT_EQ(driver->status().iberr, err::ECAP);
    EXPECT_NE(driver->lastProblem().find("plotter emulation"), std::string::npos);
}

TEST(LanDriver, LanBusFileAddressesWithoutInstrument) {
    bus::lan::LanBusMap map{{7, bus::lan::parseLanResource("socket://127.0.0.1:1").value()}};
    auto driver = bus::lan::makeLanBusDriver(map, "lab.lan", loopbackLanOptions());
    const std::pair<int, std::string> rows[] = {
        {7, "LAN instrument socket://127.0.0.1:1: cannot connect to 127.0.0.1:1"},
        {8, "LAN bus file lab.lan maps no instrument to address 8"}};
    for (const auto& [address, problem] : rows) {
        const Outcome o = act(*driver, Action::Query, address, tmo::T1s);
        EXPECT_EQ(o.sta, ERR);
        EXPECT_EQ(o.status.iberr, address == 8 ? err::ENOL : err::EDVR);
        EXPECT_NE(driver->lastProblem().find(problem), std::string::npos) << driver->lastProblem();
    }
}

std::string word(uint32_t v) {
    return bus::lan::XdrWriter().u32(v).bytes();
}

// Damaged records and replies from a gateway are LanFaults'; here the reply's own checks.
TEST(RpcRecords, RepliesToOtherCallsOrProgramsAreRefused) {
    const std::string reply = word(7) + word(1) + word(0) + word(0) + word(0) + word(0) + "RSLT";
    EXPECT_EQ(bus::lan::rpcReplyResults(reply, 7).value(), "RSLT");
    EXPECT_NE(bus::lan::rpcReplyResults(reply, 8).error().find("another call (xid 7, expected 8)"),
              std::string::npos);
    const std::string refused = word(7) + word(1) + word(0) + word(0) + word(0) + word(1);
    EXPECT_NE(bus::lan::rpcReplyResults(refused, 7).error().find("program is not there"),
              std::string::npos);
}

TEST(LanBusFile, ReadsAddressesAndResources) {
    auto map = bus::lan::parseLanBusFile(
        "\xEF\xBB\xBF"
        " 7 = vxi11://10.0.0.7/inst0  # scope, after a byte-order mark\n"
        "# lab bench\n\n20=socket://[fe80::2]:5025\r\n"
        "12 = vxi11://gw.lab:1024/gpib0,12\n");
    ASSERT_TRUE(map) << map.error();
    ASSERT_EQ(map->size(), 3u);
    EXPECT_EQ(map->at(7).text(), "vxi11://10.0.0.7/inst0");
    EXPECT_EQ(map->at(20).host, "fe80::2");
    EXPECT_EQ(map->at(20).text(), "socket://[fe80::2]:5025");
    EXPECT_EQ(map->at(12).port, 1024);
    EXPECT_EQ(map->at(12).device, "gpib0,12");
    for (const char* bad : {"7 = socket://host", "7 = vxi11://host", "7 vxi11://h/inst0",
                            "7 = vxi11://h/a\n7 = vxi11://h/b", "0 = socket://h:1", "7 = http://h/",
                            "7 = socket://h:99999"})
        EXPECT_FALSE(bus::lan::parseLanBusFile(bad)) << bad;
    const auto gateway = bus::lan::parseGatewayAddress("[::1]:5000/gpib1");
    ASSERT_TRUE(gateway) << gateway.error();
    EXPECT_EQ(gateway->host, "::1");
    EXPECT_EQ(gateway->bus, "gpib1");
}

// Gateways that break ONC RPC or the network: every call ends within its time-out, with
// bounded memory, and lastProblem() gives the gateway's own message, also on a stop request.
using sim::WireFault;

long maxRssKb() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

TEST(LanFaults, BrokenGatewaysEndQuicklyWithTheirOwnMessage) {
    struct Row {
        const char* name;
        WireFault fault;
        uint32_t procedure;    // whose replies break
        std::string gateway;   // empty: the rig's
        int stopAfterMs = -1;  // a stop request this long after the read began
        int sta;
        std::string problem;  // after "VXI-11 gateway GATEWAY (gpib0,7)"
    };
    const std::vector<Row> rows = {
        {"wrong transaction id", WireFault::WrongXid, 12, "", -1, ERR,
         ": device_read failed: the reply is unusable: a reply to another call (xid 4, "
         "expected 3)"},
        {"reply longer than asked", WireFault::LongerThanAsked, 12, "", -1, ERR,
         ": device_read failed: the reply is malformed (more data than asked for"},
        {"record announcing 2 GB", WireFault::HugeRecord, 12, "", -1, ERR,
         ": device_read failed: the reply is unusable: a record of more than 1052672 bytes"},
        {"endless fragments", WireFault::EndlessFragments, 12, "", -1, ERR,
         ": device_read failed: the reply is unusable: a record in more than 4096 fragments"},
        {"closed at accept", WireFault::CloseAtAccept, 10, "", -1, ERR, ": create_link failed: "},
        {"closed instead of a reply", WireFault::Close, 11, "", -1, ERR,
         ": device_write failed: connection lost while waiting for the reply: the gateway "
         "closed the connection"},
        {"silent gateway", WireFault::Silent, 10, "", -1, ERR | TIMO,
         ": create_link failed: no reply in time"},
        {"stop request while waiting", WireFault::Silent, 12, "", 300, ERR,
         ": device_read failed: interrupted by a stop request"},
        {"stop request before the read", WireFault::None, 12, "", 0, ERR,
         ": device_read failed: interrupted by a stop request (after 0 bytes"},
        {"unresolvable host", WireFault::None, 12, "nosuchhost.invalid:5000", -1, ERR,
         ": cannot resolve nosuchhost.invalid"},
        {"refused [::1] port", WireFault::None, 12, "[::1]:1", -1, ERR,
         ": cannot connect to [::1]:1: "},
    };
    const long rssBefore = maxRssKb();
    for (const Row& row : rows) {
        sim::Vxi11ServerOptions server;
        server.fault = row.fault;
        server.faultProcedure = row.procedure;
        LanRig rig(server);
        const std::string gateway = row.gateway.empty() ? rig.gateway() : row.gateway;
        auto driver = bus::lan::makeGatewayDriver(bus::lan::parseGatewayAddress(gateway).value(),
                                                  loopbackLanOptions());
        auto start = std::chrono::steady_clock::now();
        auto millis = [&] { return millisSince(start); };
        const int ud = driver->ibdev(0, 7, 0, bus::timeout_codes::T1s, 1, 0);
        int sta = driver->ibwrt(ud, "*IDN?", 5);
        std::string answer(200, '\0');
        if (row.stopAfterMs >= 0) {
            start = std::chrono::steady_clock::now();
            driver->setInterruptCheck([&] { return millis() >= row.stopAfterMs; });
        }
        if (!(sta & ERR))
            sta = driver->ibrd(ud, answer.data(), 200);
        EXPECT_EQ(sta & row.sta, row.sta) << row.name << ": " << std::hex << sta;
        EXPECT_EQ(driver->lastProblem().rfind(
                      "VXI-11 gateway " + gateway + " (gpib0,7)" + row.problem, 0),
                  0u)
            << row.name << ": " << driver->lastProblem();
        // A stop request ends the wait within 0.1 s; anything else within the time-out.
        EXPECT_LT(millis(), row.stopAfterMs >= 0 ? row.stopAfterMs + 150 : 1000 + 800) << row.name;
    }
    EXPECT_LT(maxRssKb() - rssBefore, 64 * 1024) << "kB more at the peak";
}

// The whole program through the LAN emulators on loopback: a VXI-11 gateway, LAN
// instruments over VXI-11 and over raw sockets give the same tables, files and texts as the
// simulated bench directly.
enum class Path { Gateway, LanVxi11, LanSocket };

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
    // A file, or (none named) the standard output.
    for (const auto& [args, file] : {std::pair<std::vector<std::string>, std::string>{
                                         {"hardcopy", "20", "--format", "WMF"}, "shot.wmf"},
                                     {{"hardcopy", "20", "--format", "BMP"}, "shot.bmp"},
                                     {{"hardcopy", "28"}, "generator.bmp"},
                                     {{"trace", "7", "1"}, "trace.txt"},
                                     {{"idn", "20"}, ""},
                                     {{"scan"}, ""}}) {
        if (args[0] == "scan" && GetParam() != Path::Gateway)
            continue;  // a LAN bus file has only the instruments it names
        // A fresh bench for each run, as the direct run gets one.
        LanRig rig({}, {7, 20, 28});
        expectAsOnTheBench(interfaceFor(GetParam(), rig, dir), args, file);
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

}  // namespace
}  // namespace benchcap::test
