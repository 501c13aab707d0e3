#include "scanner/scan_iec.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <stdexcept>
#include <tuple>

#include "bus/testing/scripted_user_interface.h"
#include "sim/sim_bench.h"
#include "support/bench_rig.h"
#include "support/mock_driver.h"

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
    ScanIECControl scan;
};

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

TEST(ScanIECBus, DeviceTableAndDriverCallsAfterOnePass) {
    Rig rig(kMixedBench);
    rig.onePass();
    // "colour|tooltip|type|info|queries" per address.
    auto row = [&](int16_t a) {
        std::string queries;
        for (const std::string& q : rig.bench.writesTo(a))
            queries += q;
        return LedColourName(rig.scan.led(a).colour) + std::string("|") + rig.scan.led(a).tooltip +
               "|" + std::to_string(rig.scan.DeviceTyp(a)) + "|" + rig.scan.DeviceInfo(a) + "|" +
               queries;
    };
    const std::pair<int16_t, const char*> rows[] = {
        {1, "red|Addr 1: unknown device|0|-----|*IDN?"},     // no listener
        {2, "black|Addr 2: unknown device|99|-----|*IDN?"},  // another maker: no *OPT?
        {5, "green|Addr 5: KLVZ26, firmware 1.60|12|KLVZ (1.60)|*IDN?*OPT?"},
        {9, "red|Addr 9: no response to *IDN?|0|-----|*IDN?"},
        {11, "red|Addr 11: unknown device|0|-----|*IDN?"},  // the maker's unknown model
        {14, "red|Addr 14: unknown device|0|-----|*IDN?"},  // lower-case model
        {17, "green|Addr 17: KLT3, firmware 1.70|13|KLT (1.70)|*IDN?*OPT?"},  // "vel" passes
        {19, "black|Addr 19: unknown device|99|-----|*IDN?"},  // " VEL" fails the maker test
        {23, "green|Addr 23: JXN, firmware 2.04\n|33|JXN (2.04\n)|*IDN?"},
    };
    for (const auto& [address, expected] : rows) {
        EXPECT_EQ(row(address), expected) << address;
    }
    const auto& s = rig.scan;
    EXPECT_EQ(s.IDAnswer(2), "Acme,AI-2000,1,1.0\n");
    EXPECT_EQ(s.OptionList(5), "B4,K7\n");
    EXPECT_EQ(s.entry(5).SerialNo, "100234/003");
    EXPECT_EQ(s.addressText(), "move over LED to get more infos");
    EXPECT_EQ(s.answerText(), "3 VTK-DEVICES FOUND");

    // The traffic of address 5: from the end of address 4 to its own release.
    const auto& t = rig.bench.traffic();
    size_t begin = 0;
    while (!(t[begin].kind == Traffic::Online && t[begin].address == 4))
        ++begin;
    size_t end = ++begin;
    while (!(t[end].kind == Traffic::Online && t[end].address == 5))
        ++end;
    std::vector<std::tuple<Traffic, int, std::string, int>> seen;
    for (size_t i = begin; i <= end; ++i)
        seen.emplace_back(t[i].kind, t[i].address, t[i].data, t[i].value);
    const std::vector<std::tuple<Traffic, int, std::string, int>> expected = {
        {Traffic::Ifc, -1, "", 0},
        {Traffic::Open, 5, "", 11},
        {Traffic::Ren, -1, "", 0},
        {Traffic::Ifc, -1, "", 0},
        {Traffic::Write, 5, "*IDN?", 0},
        {Traffic::Read, 5, "Veltronik,KLVZ26,100234/003,1.60\n", 33},
        {Traffic::Write, 5, "*OPT?", 0},
        {Traffic::Read, 5, "B4,K7\n", 6},
        {Traffic::GoToLocal, 5, "", 0},
        {Traffic::Online, 5, "", 0},
    };
    EXPECT_EQ(seen, expected);
    // The 50 ms pause lies between the identification query and its read; none before *OPT?.
    EXPECT_EQ(t[begin + 5].timeMicros - t[begin + 4].timeMicros, 50000);
    EXPECT_EQ(t[begin + 7].timeMicros, t[begin + 5].timeMicros);
    EXPECT_EQ(rig.bench.count(Traffic::Open), 30);
    EXPECT_EQ(rig.bench.count(Traffic::Read, 1), 0);
}

TEST(ScanIECBus, BoardChoice) {
    const std::string twoBoards = R"(
boards: [0, 2]
instruments:
  - {address: 4, board: 0, kind: other-maker, idn: "Acme,A,1,1"}
  - {address: 6, board: 2, kind: vector-analyzer, idn: "Veltronik,KLVZ,1,1.60"}
)";
    const std::string oneBoard =
        "boards: [7]\ninstruments:\n  - {address: 3, board: 7, kind: other-maker, idn: A}\n";
    struct Case {
        std::string bench;
        std::optional<std::string> entry;  // nullopt: the box is cancelled
        int16_t board;
        bool asked;
    } cases[] = {
        {twoBoards, "2", 2, true},
        // The empty entry and a cancelled box read as 0; 2.5 rounds to 2.
        {twoBoards, "", 0, true},
        {twoBoards, std::nullopt, 0, true},
        {twoBoards, " 2.5", 2, true},
        // Not a board of the bus, beyond a 16-bit integer, negative, or past 9: refused.
        {twoBoards, "1", -1, true},
        {twoBoards, "65538", -1, true},
        {twoBoards, "-1", -1, true},
        {twoBoards, "12", -1, true},
        {oneBoard, std::nullopt, 7, false},  // one board, whatever its index: no question
        {"boards: []\n", std::nullopt, -1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bench + " / " + c.entry.value_or("(cancel)"));
        Rig rig(c.bench);
        if (c.asked)
            rig.ui.queueInput(c.entry);
        rig.onePass();
        const auto asked = rig.ui.boxes(RecordedBox::Kind::Input);
        ASSERT_EQ(asked.size(), c.asked ? 1u : 0u);
        if (c.asked) {
            EXPECT_EQ(asked[0].title, "SELECT BOARD INDEX");
            EXPECT_EQ(asked[0].text, "Please enter board number (available boards: GPIB0,GPIB2)");
        }
        EXPECT_EQ(rig.scan.BoardID(), c.board);
        if (c.board < 0) {
            EXPECT_EQ(rig.bench.count(Traffic::Open), 0);
            EXPECT_EQ(rig.scan.addressText(),
                      c.asked ? "no valid board index selected!" : "no GPIB card found!");
            // The driver's reason when it gave one; a refused choice is the user's.
            EXPECT_EQ(rig.scan.boardFailure(),
                      c.asked ? ""
                              : "no GPIB board 0: ibfind failed with ENEB: no board is installed "
                                "under that index; see docs/driver-library.md");
        } else {
            // Only the chosen board's instruments are found.
            const int16_t found = c.board == 7 ? 3 : c.board == 2 ? 6 : 4;
            EXPECT_NE(rig.scan.DeviceTyp(found), 0);
            EXPECT_EQ(rig.scan.DeviceTyp(c.board == 0 ? 6 : 4), 0);
        }
    }
}

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
                       }});
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
    EXPECT_EQ(rig.scan.DeviceTyp(5), 0);
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
    EXPECT_EQ(rig.scan.DeviceTyp(8), 12);
    EXPECT_EQ(rig.scan.led(8).tooltip, "Addr 8: KLVZ26, firmware ");
    // The unread rest is discarded by the next query, whose answer is read whole.
    EXPECT_EQ(rig.scan.OptionList(8), "B4\n");
}

TEST(ScanIECBus, MakerTestAndTexts) {
    for (const auto& [answer, maker] : std::vector<std::pair<std::string, bool>>{
             {"VEL", true}, {"vEl,x", true}, {" VEL,x", false}, {"VE", false}, {"\nVEL", false}})
        EXPECT_EQ(IsMakerAnswer(answer), maker) << answer;
    EXPECT_EQ(DropManufacturer("A,B,C", 6), "B,C   ");
    EXPECT_EQ(DropManufacturer("ABC", 4), "ABC ");
    EXPECT_EQ(FoundText(1), "1 VTK-DEVICE FOUND");
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
    ScanIECControl scan(driver, clock, ui);
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
