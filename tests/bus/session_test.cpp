#include <gtest/gtest.h>

#include <memory>

#include "bus/session.h"
#include "sim/sim_bench.h"

namespace benchcap::bus {
namespace {

using sim::Traffic;

constexpr const char* kBench = R"(
instruments:
  - address: 20
    kind: vector-analyzer
    idn: "Veltronik,KLVZ26,100234/003,2.10"
  - address: 7
    kind: spectrum-analyzer
    idn: "Veltronik,KLT-3,100871/012,1.70"
  - address: 25
    kind: silent
)";

class SessionTest : public ::testing::Test {
  protected:
    SessionTest()
        : bench(sim::parseBenchText(kBench, "test").config, std::make_shared<VirtualClock>()),
          session(bench, record) {}

    void select(int address) { SelectInstrument(record, 0, static_cast<int16_t>(address)); }

    sim::SimBench bench;
    CurrentInstrument record;
    Session session;
};

TEST_F(SessionTest, NothingReachesTheBusBeforeTheFirstSelection) {
    record.TimeoutCode = 10;
    record.BusAddress = 20;
    session.OpenDevice();
    EXPECT_TRUE(record.IsOpen);
    EXPECT_EQ(session.QueryDevice("*IDN?"), "");
    session.IdentifyDevice();
    EXPECT_EQ(record.ModelName, "TMO");
    EXPECT_TRUE(bench.traffic().empty());
}

TEST_F(SessionTest, OpensOnceAndClearsTheInterfaceOncePerAddress) {
    select(20);
    session.OpenDevice();
    session.OpenDevice();
    EXPECT_EQ(bench.count(Traffic::Open), 1);
    EXPECT_EQ(bench.count(Traffic::Ifc), 1);
    EXPECT_EQ(bench.count(Traffic::Ren), 1);
    EXPECT_EQ(bench.traffic().back().kind, Traffic::Ifc);  // ibdev, ibsre 0, then SendIFC

    select(7);
    session.OpenDevice();
    EXPECT_EQ(bench.count(Traffic::Open), 2);
    EXPECT_EQ(bench.count(Traffic::Ifc), 2);
    EXPECT_EQ(record.OpenedAddress, 7);

    // The open uses the record's time-out code (11 after the selection).
    EXPECT_EQ(bench.traffic()[0].value, 11);
}

TEST_F(SessionTest, QueryKeepsLineFeedAndNulFilling) {
    select(20);
    session.OpenDevice();
    record.IsReady = true;
    const std::string reply = session.QueryDevice("*IDN?");
    ASSERT_EQ(reply.size(), kReplyLength);
    const std::string idn = "Veltronik,KLVZ26,100234/003,2.10\n";
    EXPECT_EQ(reply.substr(0, idn.size()), idn);
    EXPECT_EQ(reply.find_first_not_of('\0', idn.size()), std::string::npos);
}

TEST_F(SessionTest, SilentInstrumentGivesNulsAfterTheTimeout) {
    select(25);
    session.OpenDevice();
    record.IsReady = true;
    const int64_t before = bench.clock().nowMicros();
    const std::string reply = session.QueryDevice("*IDN?");
    EXPECT_EQ(reply, std::string(kReplyLength, '\0'));
    EXPECT_EQ(bench.clock().nowMicros() - before, 1'000'000);  // code 11: 1 s
}

TEST_F(SessionTest, GoToLocalEndsReadinessUntilTheNextIdentification) {
    select(20);
    session.OpenDevice();
    session.GoToLocal();  // not ready: nothing happens
    EXPECT_EQ(bench.count(Traffic::GoToLocal), 0);

    session.IdentifyDevice();
    ASSERT_TRUE(record.IsReady);
    session.GoToLocal();
    EXPECT_EQ(bench.count(Traffic::GoToLocal), 1);
    EXPECT_FALSE(record.IsReady);

    bench.clearTraffic();
    session.WriteDevice("*RST");
    EXPECT_TRUE(bench.writesTo(20).empty());
    session.IdentifyDevice();
    session.WriteDevice("*RST");
    EXPECT_EQ(bench.writesTo(20), (std::vector<std::string>{"*IDN?", "*RST"}));
}

TEST_F(SessionTest, ReadBlockAsksForExactlyTheBufferSize) {
    select(20);
    session.OpenDevice();
    session.IdentifyDevice();
    session.WriteDevice("*IDN?");
    char buffer[4] = {'x', 'x', 'x', 'x'};
    const int16_t sta = session.ReadBlock(buffer, 4);
    EXPECT_EQ(std::string(buffer, 4), "Velt");
    EXPECT_EQ(bench.traffic().back().value, 4);
    EXPECT_EQ(sta & ibsta_bits::END, 0);  // more bytes are waiting
    EXPECT_EQ(bench.status().ibcntl, 4);
}

TEST_F(SessionTest, IdentificationFailuresKeepVersionAndSupport) {
    select(20);
    session.OpenDevice();
    session.IdentifyDevice();
    EXPECT_EQ(record.ModelName, "KLVZ");
    EXPECT_TRUE(record.FullSupport);
    EXPECT_DOUBLE_EQ(record.FirmwareVersion, 2.10);

    select(25);
    session.OpenDevice();
    session.IdentifyDevice();
    EXPECT_EQ(record.ModelName, "TMO");
    EXPECT_FALSE(record.IsReady);
    EXPECT_TRUE(record.FullSupport);
    EXPECT_DOUBLE_EQ(record.FirmwareVersion, 2.10);
}

}  // namespace
}  // namespace benchcap::bus
