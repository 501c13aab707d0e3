#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "bus/session.h"
#include "hardcopy/hardcopy_workflow.h"
#include "support/bench_rig.h"
#include "support/bench_texts.h"
#include "support/golden.h"
#include "support/test_paths.h"

namespace benchcap::test {
namespace {

using hardcopy::HardcopyWay;
using sim::Traffic;

struct HardcopyRun {
    HardcopyRun()
        : bench(makeBench(kStandardBench)),
          session(*bench, instrument),
          dir(makeTempDir("workflow")) {}

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

// "ADDRESS FORMAT [ANSWERS]": a hardcopy of the standard bench's instrument at ADDRESS,
// the boxes answered with ANSWERS (o: Ok, n: No): the way taken, the file (asked for by
// extension, its first bytes), the boxes, the last status, what the instrument was sent,
// remote enable and the return to local control.
std::string Hardcopy(const std::string& input) {
    std::istringstream in(input);
    int address = 0;
    std::string format, answers;
    in >> address >> format >> answers;
    HardcopyRun r;
    for (const char a : answers)
        r.ui.queueMessageResult(a == 'o' ? bus::MessageResult::Ok : bus::MessageResult::No);
    const auto out = r.hardcopy(address, format);
    static const char* kWays[] = {"none", "transfer", "generator", "plotter"};
    std::string text = std::string("way ") + kWays[static_cast<int>(out.way)] +
                       (out.written ? ", written" : "") + (out.completed ? ", completed" : "") +
                       (out.status ? "" : ", failed: " + out.status.error()) + "\n";
    for (const std::string& ext : r.asked) {
        text += "file ." + ext;
        for (const char c : out.written ? readFile(out.file).substr(0, 4) : "")
            text += " " + std::to_string(static_cast<unsigned char>(c));
        text += "\n";
    }
    text += "files in the folder " + std::to_string(filesIn(r.dir).size()) + "\n";
    for (const auto& box : r.ui.boxes())
        text += "box " + std::to_string(static_cast<int>(box.icon)) + " \"" + box.title + "\" \"" +
                std::regex_replace(box.text, std::regex("\n"), "\\n") + "\"\n";
    text += "last status " + (r.statuses.empty() ? "" : r.statuses.back()) + "\nsent";
    for (const std::string& w : r.bench->writesTo(address))
        text += " | " + w;
    bool remote = false;
    for (const auto& e : r.bench->traffic())
        remote = remote || (e.kind == Traffic::Ren && e.value == 1);
    return text + "\nremote " + (remote ? "on" : "off") + ", local " +
           std::to_string(r.bench->count(Traffic::GoToLocal, address)) + "\n";
}

TEST(HardcopyByModel, EachFamilyTakesItsWayOrStopsWithABox) {
    test::checkGolden("golden/hardcopy-by-model.txt", Hardcopy);
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
