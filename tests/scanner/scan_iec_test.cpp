#include "scanner/scan_iec.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <regex>
#include <sstream>
#include <stdexcept>

#include <string>
#include "scanner/model_probes.h"
#include "sim/sim_bench.h"
#include "support/bench_rig.h"
#include "support/golden.h"
#include "support/mock_driver.h"
#include "support/scripted_user_interface.h"
#include "support/traffic_text.h"

namespace benchcap::scanner {
namespace {

using bus::testing::RecordedBox;
using sim::Traffic;

// The bench rig with a scan on its bench.
struct Rig : test::BenchRig {
    explicit Rig(const std::string& yaml) : BenchRig(yaml), scan(bench, bench.clock(), ui) {}
    void onePass(int16_t code = 11) {
        scan.setStartTimeOut(code);
        scan.setStopTimeOut(code);
        scan.ScanIECBus();
    }
    ScanController scan;
};

std::string Shown(const std::string& s) {
    return std::regex_replace(s, std::regex("\n"), "\\n");
}

// "[traffic N | ]INSTRUMENT; INSTRUMENT; ...": one pass over board 0 with these
// instruments, per address the LED, tooltip, type, description, answers and what was asked,
// the texts, and for N the driver traffic from the release of the address before to its own
// (kind, address, value, data, microseconds since the first).
std::string ScanTable(const std::string& input) {
    const size_t bar = input.find(" | ");
    const int traced = bar == std::string::npos ? 0 : std::stoi(input.substr(8));
    const std::string list = bar == std::string::npos ? input : input.substr(bar + 3);
    Rig rig("instruments:\n  - " + std::regex_replace(list, std::regex("; "), "\n  - ") + "\n");
    rig.onePass();
    std::string out;
    for (int16_t a = ScanController::kFirstAddress; a <= ScanController::kLastAddress; ++a) {
        std::string asked;
        for (const std::string& q : rig.bench.writesTo(a))
            asked += q;
        out += std::to_string(a) + " " + LedColourName(rig.scan.led(a).colour) + "|" +
               Shown(rig.scan.led(a).tooltip) + "|" + std::to_string(rig.scan.deviceType(a)) + "|" +
               Shown(rig.scan.DeviceInfo(a)) + "|" + Shown(rig.scan.IDAnswer(a)) + "|" +
               Shown(rig.scan.OptionList(a)) + "|" + rig.scan.entry(a).SerialNo + "|" + asked +
               "\n";
    }
    out += rig.scan.addressText() + "\n" + rig.scan.answerText() + "\n";
    bool on = false;
    int64_t t0 = -1;
    for (const sim::TrafficEntry& e : rig.bench.traffic()) {
        if (on) {
            t0 = t0 < 0 ? e.timeMicros : t0;
            out += test::trafficText(e) + " +" + std::to_string(e.timeMicros - t0) + "\n";
        }
        if (e.kind == Traffic::Online && (e.address == traced - 1 || e.address == traced))
            on = e.address == traced - 1;
    }
    return out;
}

// Other makers are not asked for options, unknown and lower-case models stay red, "vel"
// passes the maker test and " VEL" does not; the 50 ms pause lies between the
// identification query and its read, none before *OPT?.
TEST(ScanIECBus, DeviceTableAndDriverCallsAfterOnePass) {
    test::checkGolden("golden/scan-tables.txt", ScanTable);
}

// "BOARDS | ENTRY" (ENTRY "cancel" cancels the box): a scan pass over a bench of BOARDS
// with one instrument on each (at 4 + the board), the board index box answered with
// ENTRY: the box, the board chosen, the texts, the driver's reason and the types found.
std::string BoardChoice(const std::string& input) {
    const std::string boards = input.substr(0, input.find(" | "));
    const std::string entry = input.substr(input.find(" | ") + 3);
    std::string bench = "boards: [" + boards + "]\ninstruments:\n";
    std::istringstream list(boards);
    for (std::string b; std::getline(list >> std::ws, b, ',');)
        bench += "  - {address: " + std::to_string(4 + std::stoi(b)) + ", board: " + b +
                 ", kind: other-maker, idn: \"Acme,A,1,1\"}\n";
    Rig rig(boards.empty() ? "boards: []\n" : bench);
    if (entry != "none")
        rig.ui.queueInput(entry == "cancel" ? std::nullopt : std::optional<std::string>(entry));
    rig.onePass();
    std::string out;
    for (const auto& box : rig.ui.boxes(RecordedBox::Kind::Input))
        out += "asked \"" + box.title + "\" \"" + box.text + "\"\n";
    out += "board " + std::to_string(rig.scan.BoardID()) + ", " + rig.scan.addressText() +
           (rig.scan.boardFailure().empty() ? "" : ", " + rig.scan.boardFailure()) + "\nfound";
    for (int16_t a = ScanController::kFirstAddress; a <= ScanController::kLastAddress; ++a)
        out += rig.scan.deviceType(a) ? " " + std::to_string(a) : "";
    return out + ", " + std::to_string(rig.bench.count(Traffic::Open)) + " opened\n";
}

TEST(ScanIECBus, BoardChoice) {
    test::checkGolden("golden/scan-board-choice.txt", BoardChoice);
}

const char* kMixedBench = R"(
boards: [0]
instruments:
  - {address: 2, kind: other-maker, idn: "Acme,AI-2000,1,1.0"}
  - {address: 5, kind: vector-analyzer, idn: "Veltronik,KLVZ26,100234/003,1.60", options: "B4,K7"}
  - {address: 9, kind: silent}
  - {address: 11, kind: spectrum-analyzer, idn: "Veltronik,XYZ1,1,1.0"}
  - {address: 14, kind: spectrum-analyzer, idn: "veltronik,klvz26,1,1.60"}
  - {address: 17, kind: spectrum-analyzer, idn: "vel,KLT-3,2,1.70", options: "B4"}
  - {address: 19, kind: other-maker, idn: " VEL,KLR20,3,3.10"}
  - {address: 23, kind: signal-generator, idn: "VELTRONIK,JXN,V 2.04"}
)";

TEST(ScanIECBus, TwoPassesJudgeEveryAddressAgainAndAScanFromTheYieldHookIsIgnored) {
    Rig rig(kMixedBench);
    std::vector<LedColour> at5;
    int yields = 0;
    int refused = 0;
    rig.scan.setHooks({[&](int16_t a) {
                           if (a == 5)
                               at5.push_back(rig.scan.led(a).colour);
                       },
                       nullptr,
                       [&] {
                           ++yields;
                           if (!rig.scan.ScanIECBus())
                               ++refused;
                       },
                       {}});
    rig.scan.setStartTimeOut(11);
    rig.scan.setStopTimeOut(12);
    EXPECT_TRUE(rig.scan.ScanIECBus());
    EXPECT_GT(yields, 60);
    EXPECT_EQ(refused, yields);

    // One scan of two passes, not nested ones.
    std::vector<int> codes;
    for (const auto& e : rig.bench.traffic()) {
        if (e.kind == Traffic::Open)
            codes.push_back(e.value);
    }
    ASSERT_EQ(codes.size(), 60u);
    EXPECT_EQ(std::count(codes.begin(), codes.begin() + 30, 11), 30);
    EXPECT_EQ(std::count(codes.begin() + 30, codes.end(), 12), 30);
    // The green instrument goes red again at the start of the second pass; the count restarts.
    EXPECT_EQ(at5, (std::vector<LedColour>{LedColour::Red, LedColour::Green, LedColour::Red,
                                           LedColour::Green}));
    EXPECT_EQ(rig.scan.answerText(), "3 VTK-DEVICES FOUND");
    EXPECT_EQ(rig.bench.clock().nowMicros(), 30LL * 2 * 50000 + 1000000 + 3000000);

    // Once it ended, the next scan runs. START after STOP: the board is chosen and the
    // types reset, nothing reaches the bus.
    rig.scan.setHooks({});
    rig.bench.clearTraffic();
    rig.scan.setStartTimeOut(12);
    rig.scan.setStopTimeOut(11);
    rig.scan.ScanIECBus();
    EXPECT_TRUE(rig.bench.traffic().empty());
    EXPECT_EQ(rig.scan.deviceType(5), 0);
    EXPECT_EQ(rig.scan.led(5).colour, LedColour::Green);
    rig.scan.setStopTimeOut(12);
    EXPECT_TRUE(rig.scan.ScanIECBus());
    EXPECT_EQ(rig.bench.count(Traffic::Open), 30);
}

TEST(ScanIECBus, AnswersLongerThanTheBufferAreCut) {
    const std::string idn = "Veltronik,KLVZ26,100234/003," + std::string(1500, 'x');
    Rig rig("instruments:\n  - {address: 8, kind: vector-analyzer, options: B4, idn: \"" + idn +
            "\"}\n");
    rig.onePass();
    EXPECT_EQ(rig.scan.IDAnswer(8), idn.substr(0, 1000));
    // No line feed within the 1000 bytes: the firmware is empty, the model still known.
    EXPECT_EQ(rig.scan.deviceType(8), 12);
    EXPECT_EQ(rig.scan.led(8).tooltip, "Addr 8: KLVZ26, firmware ");
    // The unread rest is discarded by the next query, whose answer is read whole.
    EXPECT_EQ(rig.scan.OptionList(8), "B4\n");
}

// A driver that finds board 0 by name but opens no device on it.
using HandlelessBoard = test::MockDriver;

TEST(ScanIECBus, ABoardWithoutDeviceHandlesEndsTheScanUnsent) {
    using ::testing::_;
    using ::testing::Return;
    ::testing::StrictMock<HandlelessBoard> driver;
    EXPECT_CALL(driver, ibfind(_)).WillRepeatedly(Return(-1));
    EXPECT_CALL(driver, ibfind("GPIB0")).WillOnce(Return(0));
    EXPECT_CALL(driver, SendIFC(0));
    // Secondary address code 0x60: secondary address 0.
    EXPECT_CALL(driver, ibdev(0, 1, 0x60, 11, 1, 0)).WillOnce(Return(-1));
    EXPECT_CALL(driver, status())
        .WillRepeatedly(Return(bus::DriverStatus{bus::LongToInt16(bus::ibsta_bits::ERR),
                                                 bus::iberr_codes::ECIC, 0, 0}));
    bus::VirtualClock clock;
    bus::testing::ScriptedUserInterface ui;
    ScanController scan(driver, clock, ui);
    scan.setStartTimeOut(11);
    scan.setStopTimeOut(12);
    EXPECT_TRUE(scan.ScanIECBus());
    EXPECT_EQ(scan.BoardID(), -1);
    EXPECT_EQ(scan.addressText(), "no GPIB card found!");
    EXPECT_EQ(scan.boardFailure(),
              "no GPIB board 0: ibdev failed with ECIC: the board is not controller-in-charge; "
              "see docs/driver-library.md");
}

}  // namespace
}  // namespace benchcap::scanner
