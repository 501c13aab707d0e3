#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

#include "bus/session.h"
#include "sim/sim_bench.h"
#include "support/bench_rig.h"
#include "support/mock_driver.h"

namespace benchcap::bus {
namespace {

using sim::Traffic;

constexpr const char* kBench = R"(
instruments:
  - {address: 20, kind: vector-analyzer, idn: "Veltronik,KLVZ26,100234/003,2.10"}
  - {address: 7, kind: spectrum-analyzer, idn: "Veltronik,KLT-3,100871/012,1.70"}
  - {address: 25, kind: silent}
)";

class SessionTest : public ::testing::Test {
  protected:
    SessionTest()
        : bench(test::benchConfig(kBench), std::make_shared<VirtualClock>()),
          session(bench, record) {}

    // Selects and opens the instrument at an address.
    void open(int address) {
        SelectInstrument(record, 0, static_cast<int16_t>(address));
        session.OpenDevice();
    }

    sim::SimBench bench;
    CurrentInstrument record;
    Session session;
};

TEST_F(SessionTest, NothingReachesTheBusBeforeTheFirstSelection) {
    record.TimeoutCode = 10;
    record.BusAddress = 20;
    session.OpenDevice();
    EXPECT_EQ(session.QueryDevice("*IDN?"), "");
    session.IdentifyDevice();
    EXPECT_EQ(record.ModelName, "TMO");
    EXPECT_TRUE(bench.traffic().empty());
}

TEST_F(SessionTest, OpensOnceAndClearsTheInterfaceOncePerAddress) {
    open(20);
    session.OpenDevice();
    EXPECT_EQ(bench.count(Traffic::Open), 1);
    EXPECT_EQ(bench.count(Traffic::Ifc), 1);
    EXPECT_EQ(bench.count(Traffic::Ren), 1);
    EXPECT_EQ(bench.traffic().back().kind, Traffic::Ifc);  // ibdev, ibsre 0, then SendIFC
    EXPECT_EQ(bench.traffic()[0].value, 11);  // the record's time-out code after selection
    open(7);
    EXPECT_EQ(bench.count(Traffic::Open), 2);
    EXPECT_EQ(bench.count(Traffic::Ifc), 2);
}

TEST_F(SessionTest, RepliesKeepLineFeedAndNulFilling) {
    open(20);
    record.IsReady = true;
    const std::string idn = "Veltronik,KLVZ26,100234/003,2.10\n";
    EXPECT_EQ(session.QueryDevice("*IDN?"), idn + std::string(kReplyLength - idn.size(), '\0'));
    // A silent instrument gives NULs after the time-out (code 11: 1 s).
    open(25);
    record.IsReady = true;
    const int64_t before = bench.clock().nowMicros();
    EXPECT_EQ(session.QueryDevice("*IDN?"), std::string(kReplyLength, '\0'));
    EXPECT_EQ(bench.clock().nowMicros() - before, 1'000'000);
}

TEST_F(SessionTest, GoToLocalEndsReadinessUntilTheNextIdentification) {
    open(20);
    session.GoToLocal();  // not ready: nothing happens
    EXPECT_EQ(bench.count(Traffic::GoToLocal), 0);
    session.IdentifyDevice();
    session.GoToLocal();
    EXPECT_EQ(bench.count(Traffic::GoToLocal), 1);
    bench.clearTraffic();
    session.WriteDevice("*RST");
    EXPECT_TRUE(bench.writesTo(20).empty());
    session.IdentifyDevice();
    session.WriteDevice("*RST");
    EXPECT_EQ(bench.writesTo(20), (std::vector<std::string>{"*IDN?", "*RST"}));
}

TEST_F(SessionTest, ReadBlockAsksForExactlyTheBufferSize) {
    open(20);
    session.IdentifyDevice();
    session.WriteDevice("*IDN?");
    char buffer[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(session.ReadBlock(buffer, 4) & ibsta_bits::END, 0);  // more bytes are waiting
    EXPECT_EQ(std::string(buffer, 4), "Velt");
    EXPECT_EQ(bench.traffic().back().value, 4);
}

TEST_F(SessionTest, IdentificationFailuresKeepVersionAndSupport) {
    open(20);
    session.IdentifyDevice();
    EXPECT_EQ(record.ModelName, "KLVZ");
    EXPECT_DOUBLE_EQ(record.FirmwareVersion, 2.10);
    open(25);
    session.IdentifyDevice();
    EXPECT_EQ(record.ModelName, "TMO");
    EXPECT_FALSE(record.IsReady);
    EXPECT_TRUE(record.FullSupport);
    EXPECT_DOUBLE_EQ(record.FirmwareVersion, 2.10);
}

// A driver without boards, as linux-gpib is without its configuration: ibdev gives -1 with
// EDVR. Any call other than ibdev and status() fails the test (StrictMock).
using NoBoardDriver = test::MockDriver;

TEST(SessionWithoutBoard, SendsNothingOnTheInvalidHandleAndSaysWhy) {
    ::testing::StrictMock<NoBoardDriver> driver;
    EXPECT_CALL(driver, ibdev(0, 20, 0x60, 11, 1, 0))
        .Times(2)
        .WillRepeatedly(::testing::Return(-1));
    EXPECT_CALL(driver, status())
        .WillRepeatedly(
            ::testing::Return(DriverStatus{LongToInt16(ibsta_bits::ERR), iberr_codes::EDVR, 0, 0}));
    CurrentInstrument record;
    Session session(driver, record);
    session.SelectAndIdentify(0, 20);
    EXPECT_EQ(record.DeviceHandle, -1);
    EXPECT_EQ(record.ModelName, "TMO");
    EXPECT_FALSE(record.IsReady);
    EXPECT_EQ(session.busFailure(),
              "no GPIB board 0: ibdev failed with EDVR: the driver has no such board; see "
              "docs/driver-library.md");
    // A command that goes ahead anyway reaches nothing.
    record.IsReady = true;
    session.WriteDevice("*RST");
    char buffer[8];
    EXPECT_EQ(session.ReadBlock(buffer, sizeof buffer), 0);
    EXPECT_EQ(session.QueryDevice("*IDN?"), "");
    session.GoToLocal();
    EXPECT_FALSE(record.IsReady);
    // The next command opens again: the board may be there by then.
    session.SelectAndIdentify(0, 20);
}

TEST_F(SessionTest, AFailedOpenDoesNotKeepTheOldHandle) {
    open(20);
    const int16_t handle20 = record.DeviceHandle;
    SelectInstrument(record, 3, 7);  // board 3 is not on the bench
    session.OpenDevice();
    EXPECT_EQ(record.DeviceHandle, -1);
    EXPECT_NE(session.busFailure().find("no GPIB board 3: ibdev failed with ENEB"),
              std::string::npos);
    // Back at 20 the session opens anew instead of using -1 as the handle of 20.
    open(20);
    EXPECT_GE(record.DeviceHandle, 0);
    EXPECT_NE(record.DeviceHandle, handle20);
    EXPECT_EQ(session.busFailure(), "");
}

}  // namespace
}  // namespace benchcap::bus
