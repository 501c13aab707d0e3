#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <sstream>
#include <utility>

#include "bus/session.h"
#include "sim/sim_bench.h"
#include "support/bench_rig.h"
#include "support/golden.h"
#include "support/mock_driver.h"
#include "support/traffic_text.h"

namespace benchcap::bus {
namespace {

using sim::Traffic;

constexpr const char* kBench = R"(
instruments:
  - {address: 20, kind: vector-analyzer, idn: "Veltronik,KLVZ26,100234/003,2.10"}
  - {address: 7, kind: spectrum-analyzer, idn: "Veltronik,KLT-3,100871/012,1.70"}
  - {address: 25, kind: silent}
)";

// "STEP; STEP; ...": session steps on the bench above: "select [BOARD] ADDRESS", "open",
// "identify", "local", "write TEXT", "query TEXT", "read N", "ready" (the record says so),
// "address A" (the record's address without a selection). Per step the record afterwards
// (model, readiness, handle, firmware, support, the bus failure), what it read, the driver
// traffic it caused and the bench time it took.
std::string Steps(const std::string& input) {
    sim::SimBench bench(test::benchConfig(kBench), std::make_shared<VirtualClock>());
    CurrentInstrument record;
    record.TimeoutCode = 10;
    Session session(bench, record);
    std::istringstream steps(input);
    std::string out;
    for (std::string step; std::getline(steps >> std::ws, step, ';');) {
        std::istringstream in(step);
        std::string what, text;
        in >> what;
        std::getline(in >> std::ws, text);
        const size_t before = bench.traffic().size();
        const int64_t t0 = bench.clock().nowMicros();
        std::string got;
        if (what == "select") {
            const size_t blank = text.find(' ');
            SelectInstrument(record,
                             static_cast<int16_t>(blank == std::string::npos ? 0 : std::stoi(text)),
                             static_cast<int16_t>(std::stoi(text.substr(blank + 1))));
        } else if (what == "address") {
            record.BusAddress = static_cast<int16_t>(std::stoi(text));
        } else if (what == "open") {
            session.OpenDevice();
        } else if (what == "identify") {
            session.IdentifyDevice();
        } else if (what == "local") {
            session.GoToLocal();
        } else if (what == "ready") {
            record.IsReady = true;
        } else if (what == "write") {
            session.WriteDevice(text);
        } else if (what == "query") {
            got = session.QueryDevice(text);
        } else if (what == "read") {
            got.resize(static_cast<size_t>(std::stoi(text)));
            const int sta = session.ReadBlock(got.data(), static_cast<long>(got.size()));
            got += sta & ibsta_bits::END ? " with END" : "";
        }
        const size_t nuls = got.size() - std::min(got.size(), got.find_last_not_of('\0') + 1);
        out += step + ": " + record.ModelName + (record.IsReady ? ", ready" : "") + ", handle " +
               std::to_string(record.DeviceHandle) + ", firmware " +
               std::to_string(record.FirmwareVersion) + (record.FullSupport ? ", full" : "") +
               (session.opened() ? "" : ", failure: " + session.opened().error()) + "\n";
        if (!got.empty())
            out += "  got \"" + test::shownBytes(got.substr(0, got.size() - nuls)) + "\" and " +
                   std::to_string(nuls) + " NULs\n";
        for (size_t i = before; i < bench.traffic().size(); ++i)
            out += "  " + test::trafficText(bench.traffic()[i]) + "\n";
        if (const int64_t took = bench.clock().nowMicros() - t0)
            out += "  +" + std::to_string(took) + " us\n";
    }
    return out;
}

TEST(Session, OpensIdentifiesQueriesAndKeepsOffTheBusWhenNotReady) {
    test::checkGolden("golden/session-steps.txt", Steps);
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
    EXPECT_EQ(session.opened().errorKind(), ErrorKind::NotReachable);
    EXPECT_EQ(session.opened().error(),
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

// How a device clear went, as the recorder tells an interface without one (ECAP: answers are
// read off instead) from a clear that failed.
TEST(SessionClear, DriverErrorsBecomeKinds) {
    const std::pair<int, std::optional<ErrorKind>> rows[] = {
        {-1, std::nullopt},
        {iberr_codes::ECAP, ErrorKind::Refused},
        {iberr_codes::ENOL, ErrorKind::TimedOut},
        {iberr_codes::EDVR, ErrorKind::NotReachable},
        {iberr_codes::EBUS, ErrorKind::BusError}};
    for (const auto& [iberr, kind] : rows) {
        ::testing::NiceMock<test::MockDriver> driver;
        const int sta = iberr < 0 ? ibsta_bits::CMPL : ibsta_bits::ERR;
        ON_CALL(driver, ibclr(0)).WillByDefault(::testing::Return(sta));
        ON_CALL(driver, status())
            .WillByDefault(::testing::Return(
                DriverStatus{LongToInt16(sta), static_cast<int16_t>(std::max(iberr, 0)), 0, 0}));
        CurrentInstrument record;  // handle 0
        record.IsOpen = record.BusEnabled = true;
        const Status cleared = Session(driver, record).ClearDevice();
        EXPECT_EQ(cleared ? std::nullopt : std::optional(cleared.errorKind()), kind) << iberr;
    }
}

}  // namespace
}  // namespace benchcap::bus
