#include <gtest/gtest.h>

#include <fstream>

#include "bus/session.h"
#include "hardcopy/hardcopy_workflow.h"
#include "support/bench_rig.h"
#include "support/bench_texts.h"
#include "support/test_paths.h"

namespace benchcap::test {
namespace {

using hardcopy::HardcopyWay;
using sim::Traffic;

constexpr const char* kBench = ::benchcap::test::kStandardBench;

struct HardcopyRun {
    HardcopyRun()
        : bench(makeBench(kBench)), session(*bench, instrument), dir(makeTempDir("workflow")) {}

    hardcopy::HardcopyOutcome hardcopy(int address, const std::string& format = "BMP") {
        hardcopy::HardcopyServices services{
            session, drive, ui, [this](const std::string& s) { statuses.push_back(s); },
            [this](std::string_view ext) {
                asked.emplace_back(ext);
                return (dir / ("shot." + std::string(ext))).string();
            }};
        bus::SelectInstrument(instrument, 0, static_cast<int16_t>(address));
        session.OpenDevice();
        session.IdentifyDevice();
        hardcopy::HardcopyOptions options;
        options.format = format;
        return hardcopy::HardcopyByModel(services, options);
    }

    std::unique_ptr<sim::SimBench> bench;
    bus::CurrentInstrument instrument;
    bus::Session session;
    std::filesystem::path dir;
    std::string drive;
    bus::testing::ScriptedUserInterface ui;
    std::vector<std::string> statuses;
    std::vector<std::string> asked;
};

TEST(HardcopyByModel, SilentUnsupportedOrOldInstrumentsStopWithOneBox) {
    const struct {
        int address;
        const char* title;
        const char* text;
        const char* status;
    } cases[] = {
        {25, nullptr, "No device was found on GPIB 25\n", "no device found"},
        {5, nullptr, "device is not supported", "device is not supported"},
        {12, "HARDCOPY NOT AVAILABLE!", nullptr, "checking firmware"},  // old firmware
    };
    for (const auto& c : cases) {
        HardcopyRun r;
        EXPECT_FALSE(r.hardcopy(c.address).written) << c.address;
        ASSERT_EQ(r.ui.boxes().size(), 1u) << c.address;
        EXPECT_TRUE(!c.title || r.ui.boxes()[0].title == c.title) << r.ui.boxes()[0].title;
        EXPECT_TRUE(!c.text || r.ui.boxes()[0].text == c.text) << r.ui.boxes()[0].text;
        EXPECT_EQ(r.statuses.back(), c.status);
        EXPECT_TRUE(filesIn(r.dir).empty()) << c.address;
    }
    // No hardcopy command reaches an instrument with old firmware.
    HardcopyRun r;
    r.hardcopy(12);
    EXPECT_EQ(r.bench->writesTo(12), std::vector<std::string>{"*IDN?"});
}

TEST(HardcopyByModel, UnknownMakerIsOfferedThePlotter) {
    HardcopyRun u;
    u.ui.queueMessageResult(bus::MessageResult::Ok);
    u.ui.queueMessageResult(bus::MessageResult::No);
    const auto out = u.hardcopy(3);
    ASSERT_EQ(u.ui.boxes().size(), 2u);
    EXPECT_EQ(u.ui.boxes()[0].text, hardcopy::UnsupportedText());
    EXPECT_EQ(u.ui.boxes()[0].icon, bus::MessageIcon::Information);
    EXPECT_EQ(u.ui.boxes()[1].title, "PLEASE SELECT");
    EXPECT_EQ(out.way, HardcopyWay::Plotter);
    EXPECT_FALSE(out.written);
    EXPECT_TRUE(filesIn(u.dir).empty());
}

TEST(HardcopyByModel, EachFamilyTakesItsWayAndWritesItsFile) {
    const struct {
        int address;
        const char* format;
        HardcopyWay way;
        const char* asked;  // the extension the file name is asked for
        std::string magic;
        int remote;  // 1: remote enable is asserted, 0: never, -1: not checked
    } cases[] = {
        {7, "WMF", HardcopyWay::Transfer, "WMF", "\xD7\xCD\xC6\x9A", 0},
        {16, "BMP", HardcopyWay::Transfer, "BMP", "BM", 1},
        {28, "WMF", HardcopyWay::Generator, "BMP", "BM", -1},  // a bitmap whatever the format
        {9, "BMP", HardcopyWay::Plotter, "HGL", "IN;", -1},
    };
    for (const auto& c : cases) {
        HardcopyRun r;
        const auto out = r.hardcopy(c.address, c.format);
        ASSERT_TRUE(out.written) << c.address << ": " << out.status.error();
        EXPECT_EQ(out.way, c.way) << c.address;
        EXPECT_EQ(r.asked, std::vector<std::string>{c.asked}) << c.address;
        EXPECT_EQ(readFile(out.file).substr(0, c.magic.size()), c.magic) << c.address;
        bool remote = false;
        for (const auto& e : r.bench->traffic())
            remote = remote || (e.kind == Traffic::Ren && e.value == 1);
        EXPECT_TRUE(c.remote < 0 || remote == (c.remote == 1)) << c.address;
    }
    // The KLT keeps its pictures on drive D and is given back to local control.
    HardcopyRun r;
    r.hardcopy(7, "WMF");
    const auto writes = r.bench->writesTo(7);
    EXPECT_NE(std::find(writes.begin(), writes.end(), "MMEM:DATA? 'D:\\HARDCOPY.WMF'"),
              writes.end());
    EXPECT_EQ(r.bench->count(Traffic::GoToLocal, 7), 1);
    EXPECT_EQ(r.statuses.back(), "ready.");
}

TEST(HardcopyByModel, FailedTransferShowsTheErrorBoxAndLeavesNoFile) {
    HardcopyRun r;
    const auto out = r.hardcopy(20);
    EXPECT_FALSE(out.written);
    EXPECT_FALSE(out.status.ok());
    ASSERT_FALSE(r.ui.boxes().empty());
    EXPECT_EQ(r.ui.boxes().back().title, "ERROR:");
    EXPECT_EQ(r.ui.boxes().back().text, "An error occured. Please check instrument and try again!");
    EXPECT_TRUE(filesIn(r.dir).empty());
}

TEST(HardcopyByModel, PictureTheCheckRefusesDoesNotReplaceTheEarlierFile) {
    HardcopyRun r;
    sim::SimInstrument* analyzer = r.bench->instrument(0, 16);
    analyzer->on("MMEM:DATA?", [analyzer](const sim::Command&) {
        analyzer->respondBlock(std::string(5000, '\0'));  // a complete block, but no picture
    });
    const auto earlier = r.dir / "shot.BMP";
    std::ofstream(earlier) << "earlier picture";
    hardcopy::HardcopyServices services{
        r.session,
        r.drive,
        r.ui,
        nullptr,
        [&](std::string_view) { return earlier.string(); },
        '.',
        [](const std::filesystem::path&) -> Status { return fail("it is no picture"); }};
    bus::SelectInstrument(r.instrument, 0, 16);
    r.session.OpenDevice();
    r.session.IdentifyDevice();
    const auto out = hardcopy::HardcopyByModel(services, hardcopy::HardcopyOptions{});
    EXPECT_FALSE(out.written);
    EXPECT_NE(out.status.error().find("is refused"), std::string::npos) << out.status.error();
    EXPECT_EQ(readFile(earlier), "earlier picture");
    EXPECT_EQ(filesIn(r.dir), std::vector<std::string>{"shot.BMP"});
}

}  // namespace
}  // namespace benchcap::test
