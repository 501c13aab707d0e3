#include "scanner/model_probes.h"

#include <gtest/gtest.h>

#include <string>

namespace benchcap::scanner {
namespace {

struct ChainResult {
    int matches = 0;
    const ModelProbe* probe = nullptr;
    DeviceRecord entry;
    std::string tooltip = "untouched";
};

// Runs the whole chain on an answer without its manufacturer field, blank-padded to 1000 as
// the scan hands it over; the entry starts with "old" serial number and firmware.
ChainResult runChain(std::string answer, bool pad = true, bool options = false) {
    if (pad)
        answer.resize(1000, ' ');
    ChainResult r;
    r.entry.SerialNo = "old";
    r.entry.Firmware = "old";
    r.entry.OptionsSupported = options;
    for (const ModelProbe& p : ModelProbes()) {
        if (RunProbe(p, answer, 4, r.entry, r.tooltip)) {
            ++r.matches;
            r.probe = &p;
        }
    }
    return r;
}

// One matched answer for every probe, in chain order.
struct Case {
    const char* probe;
    const char* answer;
    int32_t code;
    const char* suffix;
    const char* serial;
    const char* firmware;
    const char* tooltip;  // after "Addr 4: "
    const char* info;
};
const Case kCases[] = {
    {"ProbeHWPZ", "HWPZ3,100001/001,2.01\n", 31, "3", "100001/001", "2.01", "HWPZ3, firmware 2.01",
     "HWPZ (2.01)"},
    {"ProbeKLVZ", "KLVZ26,1,1.60\n", 12, "26", "1", "1.60", "KLVZ26, firmware 1.60", "KLVZ (1.60)"},
    {"ProbeGWPZ", "GWPZ10,1,5.10\n", 21, "10", "1", "5.10", "GWPZ10, firmware 5.10", "GWPZ (5.10)"},
    {"ProbeGWK", "GWK-2,7,1.1\n", 32, "2", "7", "1.1", "GWK2, firmware 1.1", "GWK (1.1)"},
    {"ProbeGJX", "GJX 40,8,4.0\n", 76, "40", "8", "4.0", "GJX40, firmware 4.0", "GJX (4.0)"},
    {"ProbeKLT", "KLT-3,100871/012,1.70\n", 13, "3", "100871/012", "1.70", "KLT3, firmware 1.70",
     "KLT (1.70)"},
    {"ProbeKLW", "KLW-7,1,3.3\n", 16, "7", "1", "3.3", "KLW7, firmware 3.3", "KLW (3.3)"},
    {"ProbeKLB", "KLB 12,2,1.0\n", 17, "12", "2", "1.0", "KLB12, firmware 1.0", "KLB (1.0)"},
    // PBH names run on from the fourth character.
    {"ProbePBH", "PBH200,55,3.50\n", 41, "200", "55", "3.50", "PBH200, firmware 3.50",
     "PBH (3.50)"},
    {"ProbeNQ", "NQD8,1,1.45\n", 71, "", "1", "1.45", "NQx, firmware 1.45", "NQx (1.45)"},
    {"ProbeRVM", "RVM-5,9,2.2\n", 12, "5", "9", "2.2", "RVM5, firmware 2.2", "RVM (2.2)"},
    {"ProbeRVFE", "RVFE18,3,0.9\n", 15, "18", "3", "0.9", "RVFE18, firmware 0.9", "RVFE (0.9)"},
    {"ProbeKLR", "KLR20,1,3.10\n", 11, "0", "1", "3.10", "KLR0, firmware 3.10", "KLR (3.10)"},
    // JXN keeps the serial number and takes the firmware from the sixth character on.
    {"ProbeJXN", "  JXN,V 2.04", 33, "", "old", "2.04", "JXN, firmware 2.04", "JXN (2.04)"},
};

TEST(ModelProbes, EveryProbeRecognisesItsModelAloneInChainOrder) {
    ASSERT_EQ(ModelProbes().size(), std::size(kCases));
    for (size_t i = 0; i < std::size(kCases); ++i) {
        const Case& c = kCases[i];
        SCOPED_TRACE(c.probe);
        EXPECT_STREQ(ModelProbes()[i].name, c.probe);
        const bool jxn = c.code == 33;  // never asked for options
        const ChainResult r = runChain(c.answer, true, jxn);
        ASSERT_EQ(r.matches, 1);
        EXPECT_STREQ(r.probe->name, c.probe);
        EXPECT_EQ(r.entry.DeviceTyp, c.code);
        EXPECT_EQ(r.entry.ModelSuffix, c.suffix);
        EXPECT_EQ(r.entry.SerialNo, c.serial);
        EXPECT_EQ(r.entry.Firmware, c.firmware);
        EXPECT_EQ(r.tooltip, std::string("Addr 4: ") + c.tooltip);
        EXPECT_EQ(r.entry.DeviceInfo, c.info);
        EXPECT_EQ(r.entry.OptionsSupported, !jxn);
    }
}

TEST(ModelProbes, OddAnswers) {
    struct Odd {
        const char* answer;
        const char* serial;
        const char* firmware;
        const char* tooltip;  // after "Addr 4: "
        const char* info;
    } cases[] = {
        {"KLVZ,1,1.60\n", "1", "1.60", "KLVZ, firmware 1.60", "KLVZ (1.60)"},  // no suffix
        // Blanks around the firmware stay in the tooltip and leave the description.
        {"KLVZ26,1,  1.60 \n", "1", "  1.60 ", "KLVZ26, firmware   1.60 ", "KLVZ (1.60)"},
        // JXN keeps a line feed in its firmware; shorter than six characters: empty.
        {"JXN,V 2.04\n", "old", "2.04\n", "JXN, firmware 2.04\n", "JXN (2.04\n)"},
        {"JXN", "old", "", "JXN, firmware ", "JXN ()"},
        // Missing delimiters give empty fields.
        {"KLVZ26\n", "", "", "KLVZ26, firmware ", "KLVZ ()"},
        {"KLVZ26", "", "", "KLVZ26, firmware ", "KLVZ ()"},
        {"KLVZ26,100234/003\n", "", "", "KLVZ26, firmware ", "KLVZ ()"},
        {"KLVZ26,100234/003,1.60", "100234/003", "", "KLVZ26, firmware ", "KLVZ ()"},
        {"PBH200", "", "", "PBH200, firmware ", "PBH ()"},
    };
    for (const Odd& c : cases) {
        SCOPED_TRACE(c.answer);
        const ChainResult r = runChain(c.answer);
        ASSERT_EQ(r.matches, 1);
        EXPECT_EQ(r.entry.SerialNo, c.serial);
        EXPECT_EQ(r.entry.Firmware, c.firmware);
        EXPECT_EQ(r.tooltip, std::string("Addr 4: ") + c.tooltip);
        EXPECT_EQ(r.entry.DeviceInfo, c.info);
    }
    // Case matters: a lower-case model is nobody's, and nothing is touched.
    const ChainResult lower = runChain("klvz26,1,1.60\n");
    EXPECT_EQ(lower.matches, 0);
    EXPECT_EQ(lower.tooltip, "untouched");
    EXPECT_EQ(lower.entry.DeviceInfo, "");
    // Unpadded and empty texts are safe too.
    EXPECT_EQ(runChain("", false).matches, 0);
    EXPECT_EQ(runChain("NQ", false).entry.DeviceInfo, "NQx ()");
}

}  // namespace
}  // namespace benchcap::scanner
