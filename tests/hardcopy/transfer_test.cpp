#include <gtest/gtest.h>

#include <fstream>

#include "bus/block_header.h"
#include "bus/session.h"
#include "hardcopy/block_transfer.h"
#include "hardcopy/generator_hardcopy.h"
#include "hardcopy/hardcopy_workflow.h"
#include "hardcopy/plotter_capture.h"
#include "support/bench_rig.h"
#include "support/bench_texts.h"
#include "support/golden.h"
#include "support/test_paths.h"
#include "support/traffic_text.h"

namespace benchcap::test {
namespace {

using bus::ParseBlockHeader;
using sim::Traffic;

constexpr const char* kBench = ::benchcap::test::kTransferBench;

struct Fixture {
    explicit Fixture(const std::string& yaml = kBench, int address = 20)
        : bench(makeBench(yaml)), session(*bench, instrument) {
        bus::SelectInstrument(instrument, 0, static_cast<int16_t>(address));
        session.OpenDevice();
        session.IdentifyDevice();
        bench->clearTraffic();
        dir = makeTempDir("transfer");
    }
    // The instrument answers MMEM:DATA? with exactly these bytes.
    void answerWith(std::string bytes, bool eoi = true) {
        sim::SimInstrument* inst = bench->instrument(0, instrument.BusAddress);
        inst->on("MMEM:DATA?",
                 [inst, bytes, eoi](const sim::Command&) { inst->respondRaw(bytes, eoi); });
    }
    Result<int64_t> transfer() {
        return hardcopy::TransferFile(session, "C:\\HARDCOPY.BMP", local());
    }
    std::string local() const { return (dir / "shot.bmp").string(); }

    std::unique_ptr<sim::SimBench> bench;
    bus::CurrentInstrument instrument;
    bus::Session session;
    std::filesystem::path dir;
};

TEST(StartHardcopy, SendsTheConfigurationUnlessSuppressedAndLeavesThirtySeconds) {
    using Strings = std::vector<std::string>;
    const Strings start = {"MMEM:NAME 'C:\\HARDCOPY.WMF'", "SYST:DISP:UPD ON", "HCOPY:IMM1;*WAI"};
    const Strings configured = {"HCOPY:DEST1 'MMEM'", "HCOPY:DEV:LANG WMF", "HCOPY:DEV:COL OFF"};
    for (const bool suppressed : {false, true}) {
        Fixture f;
        hardcopy::StartHardcopy(f.session, "  C:\\HARDCOPY.WMF ", false, "WMF", suppressed);
        Strings expected = {"*IDN?"};
        if (!suppressed)
            expected.insert(expected.end(), configured.begin(), configured.end());
        expected.insert(expected.end(), start.begin(), start.end());
        EXPECT_EQ(f.bench->writesTo(20), expected);
        int lastTimeout = -1;
        for (const auto& e : f.bench->traffic()) {
            if (e.kind == Traffic::SetTimeout && e.address == 20)
                lastTimeout = e.value;
        }
        EXPECT_EQ(lastTimeout, 14);
    }
}

TEST(BlockHeader, AcceptsDefiniteLengthsAndRefusesEverythingElse) {
    EXPECT_EQ(*ParseBlockHeader("#3123"), 123);
    EXPECT_EQ(*ParseBlockHeader("#204"), 4);
    EXPECT_EQ(*ParseBlockHeader("#10"), 0);  // empty: the reader's policy decides
    EXPECT_EQ(*ParseBlockHeader("#800000123"), 123);
    EXPECT_EQ(*ParseBlockHeader("#9000000010"), 10);
    EXPECT_EQ(*ParseBlockHeader("#9999999999"), 999999999);
    for (const char* bad : {"", "#", "#0", "#A8", "#(5", "#3 12", "#31 2", "#312", "#1", "X15",
                            "\n#1", "#1\xff", "#2123", "#:0000000012"}) {
        const auto h = ParseBlockHeader(bad);
        EXPECT_FALSE(h) << "header " << bad;
        EXPECT_FALSE(h.error().empty());
    }
    EXPECT_NE(ParseBlockHeader("#0").error().find("indefinite"), std::string::npos);
}

// "ANSWER" or "ANSWER without END": the analyzer answers MMEM:DATA? with these bytes,
// over an earlier file: the result and the file afterwards.
std::string Transferred(const std::string& input) {
    Fixture f;
    const bool eoi = !input.ends_with(" without END");
    f.answerWith(input.substr(0, eoi ? input.size() : input.size() - 12), eoi);
    { std::ofstream(f.local()) << "earlier picture"; }
    const auto result = f.transfer();
    const std::string file = readFile(f.local());
    return (result ? "stored " + std::to_string(*result) : "failed: " + result.error()) +
           "\nfile of " + std::to_string(file.size()) + " \"" + shownBytes(file.substr(0, 40)) +
           (file.size() > 40 ? "..." : "") + "\", " + std::to_string(filesIn(f.dir).size()) +
           " files, asked " + f.bench->writesTo(20).back() + "\n";
}

TEST(TransferFile, StoresExactlyTheDataBytesOfWellFormedBlocksAndNothingElse) {
    checkGolden("golden/block-transfers.txt", Transferred);
}

// One instrument with a fault key of the simulated bench.
std::string faulty(int address, const char* kind, const char* idn, const char* fault) {
    return "instruments:\n  - {address: " + std::to_string(address) + ", kind: " + kind +
           ", idn: \"" + idn + "\", faults: {" + fault + "}}\n";
}

// Broken blocks of the analyzer and the generator: failed transfers that keep the earlier
// picture and leave nothing else, of the kind the recorder files them under.
TEST(TransferFile, FaultsOfTheBenchAreFailedTransfersThatKeepTheEarlierFile) {
    using enum ErrorKind;
    const struct {
        int address;
        const char* fault;
        const char* error;
        ErrorKind kind;
    } cases[] = {
        {20, "block_cut_after: 1000", "broke off after 1000 of", TimedOut},
        {20, "block_header: \"#9999999999\"", "broke off after 2359351 of 999999999 bytes",
         BadData},
        {20, "block_header: \"#0\"", "indefinite-length", BadData},
        {20, "block_header: \"#2xx\"", "not a decimal number", BadData},
        {20, "silent_after: 6", "did not identify itself (TMO)", TimedOut},
        {20, "bus_error_after: 300000",
         "broke off after 300000 of 2359350 bytes (driver error EBUS)", BusError},
        {28, "silent_after: 2", "no screen picture (time-out)", TimedOut},
        {28, "block_cut_after: 5000", "after 5000 bytes (time-out)", TimedOut},
        {28, "bus_error_after: 5000", "after 5000 bytes (driver error EBUS)", BusError},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        Fixture f(c.address == 20
                      ? faulty(20, "vector-analyzer", "Veltronik,KLVZ26,100234/003,2.10", c.fault)
                      : faulty(28, "signal-generator", "Veltronik,GWPZ10,100567/001,5.10", c.fault),
                  c.address);
        { std::ofstream(f.local()) << "earlier picture"; }
        if (c.address == 20)
            hardcopy::StartHardcopy(f.session, "C:\\HARDCOPY.BMP", true, "BMP");
        const Result<int64_t> result =
            c.address == 20 ? f.transfer() : hardcopy::ReadGeneratorHardcopy(f.session, f.local());
        ASSERT_FALSE(result);
        EXPECT_NE(result.error().find(c.error), std::string::npos) << result.error();
        EXPECT_EQ(result.errorKind(), c.kind);
        EXPECT_EQ(readFile(f.local()), "earlier picture");
        EXPECT_EQ(filesIn(f.dir), std::vector<std::string>{"shot.bmp"});
    }
}

TEST(TransferFile, ScreenOfTheSimulatedAnalyzerArrivesInOneRead) {
    Fixture f;
    hardcopy::StartHardcopy(f.session, "C:\\HARDCOPY.BMP", true, "BMP");
    f.bench->clearTraffic();
    const auto result = f.transfer();
    ASSERT_TRUE(result) << result.error();
    const std::string bmp = readFile(f.local());
    EXPECT_EQ(bmp.size(), 54u + 1024u * 768u * 3u);
    // *IDN?, the two parts of the header, the data in pieces, then the line feed with END.
    const auto pieces = (bmp.size() + hardcopy::kTransferChunk - 1) / hardcopy::kTransferChunk;
    EXPECT_EQ(f.bench->count(Traffic::Read, 20), static_cast<int>(3 + pieces + 1));
}

TEST(TransferFile, PanelSettingsDecideWhenTheConfigurationIsSuppressed) {
    Fixture f(kBench, 16);  // front panel: BMP, black and white
    hardcopy::StartHardcopy(f.session, "C:\\HARDCOPY.WMF", true, "WMF", true);
    ASSERT_TRUE(hardcopy::TransferFile(f.session, "C:\\HARDCOPY.WMF", f.local()));
    EXPECT_EQ(readFile(f.local()).substr(0, 2), "BM");
    EXPECT_EQ(readFile(f.local()).substr(54, 3), "\xFF\xFF\xFF");  // white paper

    hardcopy::StartHardcopy(f.session, "C:\\HARDCOPY.BMP", true, "BMP");
    ASSERT_TRUE(hardcopy::TransferFile(f.session, "C:\\HARDCOPY.BMP", f.local()));
    EXPECT_NE(readFile(f.local()).substr(54, 3), "\xFF\xFF\xFF");
}

TEST(TransferFile, MissingDriveOrUnprintedFileIsAnInstrumentErrorWithoutBlock) {
    Fixture f(kBench, 16);  // only drive C
    hardcopy::StartHardcopy(f.session, "D:\\HARDCOPY.BMP", true, "BMP");
    EXPECT_FALSE(hardcopy::TransferFile(f.session, "D:\\HARDCOPY.BMP", f.local()));
    const auto& errors = f.bench->instrument(0, 16)->errors();
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors.front().rfind("-250,", 0), 0u);

    Fixture g;
    EXPECT_FALSE(hardcopy::TransferFile(g.session, "C:\\NEVER.BMP", g.local()));
    EXPECT_EQ(g.bench->instrument(0, 20)->errors().front().rfind("-256,", 0), 0u);
    EXPECT_TRUE(filesIn(f.dir).empty());
    EXPECT_TRUE(filesIn(g.dir).empty());
}

TEST(GeneratorHardcopy, SendsTwoCommandsAndStoresTheBitmap) {
    Fixture f(kBench, 28);
    f.bench->clearTraffic();
    const auto result = hardcopy::ReadGeneratorHardcopy(f.session, f.local());
    ASSERT_TRUE(result) << result.error();
    EXPECT_EQ(f.bench->writesTo(28), (std::vector<std::string>{"*IDN?", "HCOP:DATA?"}));
    EXPECT_EQ(static_cast<int64_t>(readFile(f.local()).size()), *result);
}

TEST(TransferFile, ReadKeptOffTheBusIsNoDataWhateverTheLastCountSays) {
    // The readiness goes (as after GoToLocal) once the header is read: the data read is
    // kept off the bus, while the count of the last real read (one length digit) equals
    // the byte asked for.
    Fixture f;
    f.answerWith("#11x\n");
    { std::ofstream(f.local()) << "earlier picture"; }
    int looks = 0;
    f.session.setInterruptCheck([&] {
        f.instrument.IsReady = f.instrument.IsReady && ++looks < 2;
        return false;
    });
    const auto result = f.transfer();
    ASSERT_FALSE(result);
    EXPECT_NE(result.error().find("not ready"), std::string::npos) << result.error();
    EXPECT_EQ(readFile(f.local()), "earlier picture");
}

TEST(TransferFile, StopRequestEndsTheTransferBetweenPiecesWithoutFile) {
    Fixture f;
    hardcopy::StartHardcopy(f.session, "C:\\HARDCOPY.BMP", true, "BMP");
    int asked = 0;
    f.session.setInterruptCheck([&asked] { return ++asked > 3; });  // during the data
    const auto result = f.transfer();
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), bus::kInterruptedMessage);
    EXPECT_TRUE(filesIn(f.dir).empty());
    EXPECT_LT(f.bench->count(Traffic::Read, 20), 8);
}

}  // namespace
}  // namespace benchcap::test
