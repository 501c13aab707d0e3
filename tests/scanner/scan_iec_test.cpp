#include "scanner/scan_iec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <tuple>

#include "bus/testing/scripted_user_interface.h"
#include "sim/sim_bench.h"

namespace benchcap::scanner {
namespace {

using sim::Traffic;

using bus::testing::RecordedBox;

struct Rig {
    explicit Rig(const std::string& yaml)
        : bench(load(yaml), std::make_shared<bus::VirtualClock>()),
          scan(bench, bench.clock(), ui) {}

    static sim::BenchConfig load(const std::string& yaml) {
        sim::BenchLoadResult r = sim::parseBenchText(yaml, "test");
        if (!r.error.empty())
            throw std::runtime_error(r.error);
        return r.config;
    }
    void onePass(int16_t code = 11) {
        scan.setStartTimeOut(code);
        scan.setStopTimeOut(code);
        scan.ScanIECBus();
    }

    bus::testing::ScriptedUserInterface ui;
    sim::SimBench bench;
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

TEST(ScanIECBus, BeforeAnyScan) {
    Rig rig(kMixedBench);
    EXPECT_EQ(rig.scan.BoardID(), 0);
    EXPECT_EQ(rig.scan.addressText(), "00");
    EXPECT_EQ(rig.scan.answerText(), "---");
    for (int16_t a = 1; a <= 30; ++a)
        EXPECT_EQ(rig.scan.led(a).colour, LedColour::None);
    EXPECT_THROW(rig.scan.led(0), std::out_of_range);
    EXPECT_THROW(rig.scan.led(31), std::out_of_range);
    EXPECT_THROW(rig.scan.DeviceTyp(32), std::out_of_range);
    EXPECT_THROW(rig.scan.IDAnswer(-1), std::out_of_range);
}

TEST(ScanIECBus, DeviceTableAfterOnePass) {
    Rig rig(kMixedBench);
    rig.onePass();
    const auto& s = rig.scan;

    // No listener: red, unknown device, type 0, nothing read.
    EXPECT_EQ(s.led(1).colour, LedColour::Red);
    EXPECT_EQ(s.led(1).tooltip, "Addr 1: unknown device");
    EXPECT_EQ(s.DeviceTyp(1), 0);
    EXPECT_EQ(s.DeviceInfo(1), "-----");
    EXPECT_EQ(s.IDAnswer(1), "");
    // Another maker: black, type 99, never asked for options.
    EXPECT_EQ(s.led(2).colour, LedColour::Black);
    EXPECT_EQ(s.led(2).tooltip, "Addr 2: unknown device");
    EXPECT_EQ(s.DeviceTyp(2), 99);
    EXPECT_EQ(s.DeviceInfo(2), "-----");
    EXPECT_EQ(s.IDAnswer(2), "Acme,AI-2000,1,1.0\n");
    EXPECT_EQ(rig.bench.writesTo(2), std::vector<std::string>{"*IDN?"});
    // A recognised instrument: green, its options read.
    EXPECT_EQ(s.led(5).colour, LedColour::Green);
    EXPECT_EQ(s.led(5).tooltip, "Addr 5: KLVZ26, firmware 1.60");
    EXPECT_EQ(s.DeviceTyp(5), 12);
    EXPECT_EQ(s.DeviceInfo(5), "KLVZ (1.60)");
    EXPECT_EQ(s.IDAnswer(5), "Veltronik,KLVZ26,100234/003,1.60\n");
    EXPECT_EQ(s.OptionList(5), "B4,K7\n");
    EXPECT_EQ(s.entry(5).SerialNo, "100234/003");
    EXPECT_EQ(rig.bench.writesTo(5), (std::vector<std::string>{"*IDN?", "*OPT?"}));
    // A silent listener: red, no response.
    EXPECT_EQ(s.led(9).colour, LedColour::Red);
    EXPECT_EQ(s.led(9).tooltip, "Addr 9: no response to *IDN?");
    EXPECT_EQ(s.DeviceTyp(9), 0);
    EXPECT_EQ(s.IDAnswer(9), "");
    // The maker's instrument of an unknown model, and one in lower case: red, type 0.
    for (int16_t a : {11, 14}) {
        EXPECT_EQ(s.led(a).colour, LedColour::Red) << a;
        EXPECT_EQ(s.led(a).tooltip, "Addr " + std::to_string(a) + ": unknown device");
        EXPECT_EQ(s.DeviceTyp(a), 0);
        EXPECT_EQ(s.DeviceInfo(a), "-----");
        EXPECT_EQ(rig.bench.writesTo(a), std::vector<std::string>{"*IDN?"});
    }
    // "vel" passes the maker test; " VEL" is two letters after stripping and fails it.
    EXPECT_EQ(s.DeviceTyp(17), 13);
    EXPECT_EQ(s.OptionList(17), "B4\n");
    EXPECT_EQ(s.DeviceTyp(19), 99);
    EXPECT_EQ(s.led(19).colour, LedColour::Black);
    // JXN: green, never asked for options.
    EXPECT_EQ(s.DeviceTyp(23), 33);
    EXPECT_EQ(s.DeviceInfo(23), "JXN (2.04\n)");
    EXPECT_EQ(rig.bench.writesTo(23), std::vector<std::string>{"*IDN?"});
    EXPECT_EQ(s.OptionList(23), "");

    EXPECT_EQ(s.addressText(), "move over LED to get more infos");
    EXPECT_EQ(s.answerText(), "3 VTK-DEVICES FOUND");
    // Entry 0 is never touched; entry 31 only has its type reset.
    EXPECT_EQ(s.entry(0).DeviceInfo, "");
    EXPECT_EQ(s.entry(31).DeviceInfo, "");
    EXPECT_EQ(s.DeviceTyp(31), 0);
    EXPECT_TRUE(rig.ui.boxes(RecordedBox::Kind::Input).empty());
}

TEST(ScanIECBus, DriverCallsForOneAddress) {
    Rig rig(kMixedBench);
    rig.onePass();
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
    // A whole pass over an address without a listener costs the pause only.
    EXPECT_EQ(rig.bench.count(Traffic::Open), 30);
    EXPECT_EQ(rig.bench.count(Traffic::Write, 1), 1);
    EXPECT_EQ(rig.bench.count(Traffic::Read, 1), 0);
}

TEST(ScanIECBus, BoardChoice) {
    const std::string twoBoards = R"(
boards: [0, 2]
instruments:
  - {address: 4, board: 0, kind: other-maker, idn: "Acme,A,1,1"}
  - {address: 6, board: 2, kind: vector-analyzer, idn: "Veltronik,KLVZ,1,1.60"}
)";
    const std::string prompt = "Please enter board number (available boards: GPIB0,GPIB2)";
    {
        Rig rig(twoBoards);
        rig.ui.queueInput("1");
        rig.onePass();
        const std::vector<RecordedBox> asked = rig.ui.boxes(RecordedBox::Kind::Input);
        ASSERT_EQ(asked.size(), 1u);
        EXPECT_EQ(asked[0].title, "SELECT BOARD INDEX");
        EXPECT_EQ(asked[0].text, prompt);
        EXPECT_EQ(asked[0].preset, "");
        EXPECT_EQ(rig.scan.BoardID(), -1);
        EXPECT_EQ(rig.scan.addressText(), "no valid board index selected!");
        EXPECT_EQ(rig.bench.count(Traffic::Open), 0);
        EXPECT_EQ(rig.scan.led(6).colour, LedColour::None);
    }
    {
        Rig rig(twoBoards);
        rig.ui.queueInput("2");
        rig.onePass();
        EXPECT_EQ(rig.scan.BoardID(), 2);
        EXPECT_EQ(rig.scan.DeviceTyp(6), 12);
        EXPECT_EQ(rig.scan.DeviceTyp(4), 0);
    }
    // The empty entry, a cancelled box and a non-number read as 0; 2.5 rounds to 2.
    for (const std::optional<std::string>& entry :
         {std::optional<std::string>(""), std::optional<std::string>(),
          std::optional<std::string>("x"), std::optional<std::string>(" 2.5")}) {
        Rig rig(twoBoards);
        rig.ui.queueInput(entry);
        rig.onePass();
        const int16_t expected = entry && *entry == " 2.5" ? 2 : 0;
        EXPECT_EQ(rig.scan.BoardID(), expected) << entry.value_or("(cancel)");
        EXPECT_EQ(rig.scan.DeviceTyp(4), expected == 0 ? 99 : 0);
    }
    // Beyond a 16-bit integer, negative, or past 9: refused.
    for (const char* entry : {"65538", "1e300", "-1", "12"}) {
        Rig rig(twoBoards);
        rig.ui.queueInput(entry);
        rig.onePass();
        EXPECT_EQ(rig.scan.BoardID(), -1) << entry;
        EXPECT_EQ(rig.scan.addressText(), "no valid board index selected!");
    }
    // One board, whatever its index: no question.
    {
        Rig rig(
            "boards: [7]\ninstruments:\n  - {address: 3, board: 7, kind: other-maker, idn: A}\n");
        rig.onePass();
        EXPECT_TRUE(rig.ui.boxes(RecordedBox::Kind::Input).empty());
        EXPECT_EQ(rig.scan.BoardID(), 7);
        EXPECT_EQ(rig.scan.DeviceTyp(3), 99);
    }
    // No board at all.
    {
        Rig rig("boards: []\n");
        rig.onePass();
        EXPECT_EQ(rig.scan.BoardID(), -1);
        EXPECT_EQ(rig.scan.addressText(), "no GPIB card found!");
    }
}

TEST(ScanIECBus, TwoPassesJudgeEveryAddressAgain) {
    Rig rig(kMixedBench);
    std::vector<std::pair<int16_t, LedColour>> changes;
    std::vector<std::string> answers;
    rig.scan.setHooks({[&](int16_t a) { changes.emplace_back(a, rig.scan.led(a).colour); },
                       [&](TextLine line) {
                           if (line == TextLine::Answer)
                               answers.push_back(rig.scan.answerText());
                       },
                       nullptr});
    rig.scan.setStartTimeOut(11);
    rig.scan.setStopTimeOut(12);
    rig.scan.ScanIECBus();

    std::vector<int> codes;
    for (const auto& e : rig.bench.traffic()) {
        if (e.kind == Traffic::Open)
            codes.push_back(e.value);
    }
    ASSERT_EQ(codes.size(), 60u);
    EXPECT_EQ(std::count(codes.begin(), codes.begin() + 30, 11), 30);
    EXPECT_EQ(std::count(codes.begin() + 30, codes.end(), 12), 30);
    // The green instrument at 5 goes red again at the start of the second pass.
    std::vector<LedColour> at5;
    for (const auto& [a, c] : changes) {
        if (a == 5)
            at5.push_back(c);
    }
    EXPECT_EQ(at5, (std::vector<LedColour>{LedColour::Red, LedColour::Green, LedColour::Red,
                                           LedColour::Green}));
    // The count starts from zero in each pass.
    ASSERT_GE(answers.size(), 2u);
    EXPECT_EQ(answers.front(), "NO VTK-DEVICE FOUND");
    EXPECT_EQ(std::count(answers.begin(), answers.end(), "NO VTK-DEVICE FOUND"), 2);
    EXPECT_EQ(answers.back(), "3 VTK-DEVICES FOUND");
    EXPECT_EQ(rig.bench.clock().nowMicros(), 30LL * 2 * 50000 + 1000000 + 3000000);
}

TEST(ScanIECBus, StartAfterStopChoosesTheBoardOnly) {
    Rig rig(
        "boards: [4]\ninstruments:\n  - {address: 5, board: 4, kind: vector-analyzer, idn: "
        "\"Veltronik,KLVZ,1,1.60\"}\n");
    rig.onePass();
    ASSERT_EQ(rig.scan.DeviceTyp(5), 12);
    rig.bench.clearTraffic();
    rig.scan.setStartTimeOut(12);
    rig.scan.setStopTimeOut(11);
    rig.scan.ScanIECBus();
    EXPECT_EQ(rig.scan.BoardID(), 4);
    EXPECT_TRUE(rig.bench.traffic().empty());
    // Types are reset; the rest of the entry and the indicator keep the last scan's.
    EXPECT_EQ(rig.scan.DeviceTyp(5), 0);
    EXPECT_EQ(rig.scan.DeviceInfo(5), "KLVZ (1.60)");
    EXPECT_EQ(rig.scan.led(5).colour, LedColour::Green);
}

TEST(ScanIECBus, AnswersLongerThanTheBufferAreCut) {
    const std::string tail(1500, 'x');
    Rig rig(
        "instruments:\n  - {address: 8, kind: vector-analyzer, options: B4, idn: "
        "\"Veltronik,KLVZ26,100234/003," +
        tail + "\"}\n");
    rig.onePass();
    EXPECT_EQ(rig.scan.IDAnswer(8).size(), 1000u);
    EXPECT_EQ(rig.scan.IDAnswer(8), ("Veltronik,KLVZ26,100234/003," + tail).substr(0, 1000));
    // No line feed within the 1000 bytes: the firmware is empty, the model still known.
    EXPECT_EQ(rig.scan.DeviceTyp(8), 12);
    EXPECT_EQ(rig.scan.led(8).tooltip, "Addr 8: KLVZ26, firmware ");
    // The unread rest is discarded by the next query, whose answer is read whole.
    EXPECT_EQ(rig.scan.OptionList(8), "B4\n");
}

TEST(ScanIECBus, ASecondScanFromTheYieldHookIsIgnored) {
    Rig rig(kMixedBench);
    int yields = 0;
    int refused = 0;
    rig.scan.setHooks({nullptr, nullptr, [&] {
                           ++yields;
                           EXPECT_TRUE(rig.scan.isScanning());
                           if (!rig.scan.ScanIECBus())
                               ++refused;
                       }});
    EXPECT_TRUE(rig.scan.ScanIECBus());
    EXPECT_FALSE(rig.scan.isScanning());
    EXPECT_GT(yields, 60);
    EXPECT_EQ(refused, yields);
    // One scan of two passes, not nested ones.
    EXPECT_EQ(rig.bench.count(Traffic::Open), 60);
    EXPECT_EQ(rig.scan.answerText(), "3 VTK-DEVICES FOUND");
    EXPECT_EQ(rig.scan.DeviceTyp(5), 12);
}

TEST(ScanIECBus, TextLinesNotifyOnlyOnChange) {
    Rig rig(kMixedBench);
    std::vector<TextLine> changed;
    rig.scan.setHooks({nullptr, [&](TextLine line) { changed.push_back(line); }, nullptr});
    rig.scan.setText(TextLine::Address, "click to select instrument");
    rig.scan.setText(TextLine::Address, "click to select instrument");
    rig.scan.setText(TextLine::Answer, "---");
    EXPECT_EQ(changed, std::vector<TextLine>{TextLine::Address});
    EXPECT_EQ(rig.scan.addressText(), "click to select instrument");
}

TEST(ScanIECBus, MakerTestAndCountTexts) {
    EXPECT_TRUE(IsMakerAnswer("VEL"));
    EXPECT_TRUE(IsMakerAnswer("vEl,x"));
    EXPECT_FALSE(IsMakerAnswer(" VEL,x"));
    EXPECT_FALSE(IsMakerAnswer("VE"));
    EXPECT_FALSE(IsMakerAnswer("\nVEL"));
    EXPECT_EQ(DropManufacturer("A,B,C", 6), "B,C   ");
    EXPECT_EQ(DropManufacturer("ABC", 4), "ABC ");
    EXPECT_EQ(FoundText(0), "NO VTK-DEVICE FOUND");
    EXPECT_EQ(FoundText(1), "1 VTK-DEVICE FOUND");
    EXPECT_EQ(FoundText(3), "3 VTK-DEVICES FOUND");
    EXPECT_EQ(LedColourValue(LedColour::Red), 255);
    EXPECT_EQ(LedColourValue(LedColour::Green), 65280);
}

}  // namespace
}  // namespace benchcap::scanner
