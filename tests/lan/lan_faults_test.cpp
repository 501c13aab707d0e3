// Gateways that break ONC RPC or the network: every call ends within its time-out, with
// bounded memory, and lastProblem() gives the gateway's own message, also on a stop request.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>

#include "lan_rig.h"

namespace benchcap::test {
namespace {

using namespace bus::ibsta_bits;
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
        auto millis = [&] {
            return std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now() - start)
                .count();
        };
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

}  // namespace
}  // namespace benchcap::test
