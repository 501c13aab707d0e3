// The LAN driver against gateways that misbehave in known ways, and its readers of outside
// input: RPC records and replies, LAN bus files.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <map>

#include "bus/lan/lan_resource.h"
#include "bus/lan/rpc_record.h"
#include "lan_rig.h"

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
    if (action == Action::Clear) {
        done(driver.ibclr(ud));
        return o;
    }
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
        {"clear", gatewayWith(), 20, Action::Clear, tmo::T1s, 0, false, CMPL, -1, -1, "", ""},
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
        const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now() - start)
                                .count();
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

TEST(LanDriver, HostNamesAndIpv6Literals) {
    const int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in6 addr{};
    addr.sin6_family = AF_INET6;
    addr.sin6_addr = in6addr_loopback;
    socklen_t len = sizeof addr;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 || ::listen(fd, 4)) {
        if (fd >= 0)
            ::close(fd);
        GTEST_SKIP() << "no IPv6 loopback here";
    }
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    sim::SimBench bench(sim::builtinBench(), std::make_shared<bus::VirtualClock>());
    sim::SocketServer server(bench, 20);
    std::thread thread([&] { server.serve(fd); });
    LanRig rig;
    auto map = bus::lan::parseLanBusFile(
        "20 = socket://[::1]:" + std::to_string(ntohs(addr.sin6_port)) +
        "\n7 = vxi11://localhost:" + rig.gateway().substr(10) + "/inst7\n");
    ASSERT_TRUE(map) << map.error();
    auto driver = bus::lan::makeLanBusDriver(map.value(), "lab.lan", loopbackLanOptions());
    for (int address : {20, 7}) {
        const Outcome o = act(*driver, Action::Query, address, tmo::T1s);
        EXPECT_EQ(o.sta & (ERR | END), END) << address << ": " << driver->lastProblem();
        EXPECT_NE(o.text.find("Veltronik,KL"), std::string::npos) << address;
    }
    server.stop();
    thread.join();
    ::close(fd);
}

std::string word(uint32_t v) {
    return bus::lan::XdrWriter().u32(v).bytes();
}

TEST(RpcRecords, HostileStreamsEndInClearErrors) {
    using State = bus::lan::RecordReader::State;
    const std::string reply = word(7) + word(1) + word(0) + word(0) + word(0) + word(0) + "RSLT";
    struct Row {
        const char* name;
        std::string stream;
        State state;
        std::string error;
    } rows[] = {
        {"2 GB announced", word(0xFFFFFFFF) + "abc", State::Bad, "more than 4096 bytes"},
        {"fragments without an end",
         [] {
             std::string s;
             for (int i = 0; i < 20; ++i)
                 s += word(1) + "x";
             return s;
         }(),
         State::Bad, "more than 16 fragments"},
        {"two fragments", word(2) + "ab" + word(0x80000002) + "cd", State::Complete, ""},
        {"cut short", word(0x80000010) + "abc", State::NeedMore, ""},
    };
    for (const auto& row : rows) {
        bus::lan::RecordReader reader(4096, 16);
        std::string input = row.stream;
        EXPECT_EQ(reader.feed(input), row.state) << row.name;
        EXPECT_NE(reader.error().find(row.error), std::string::npos) << row.name;
        if (row.state == State::Complete) {
            EXPECT_EQ(reader.takeRecord(), "abcd");
        }
    }
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

}  // namespace
}  // namespace benchcap::test
