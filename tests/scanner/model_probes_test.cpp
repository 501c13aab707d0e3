#include "scanner/model_probes.h"

#include <gtest/gtest.h>

#include <string>

namespace benchcap::scanner {
namespace {

// The probes get the answer without its manufacturer field, blank-padded to 1000.
std::string pad(std::string text) {
    text.resize(1000, ' ');
    return text;
}

struct ChainResult {
    int matches = 0;
    const ModelProbe* probe = nullptr;
    DeviceRecord entry;
    std::string tooltip = "untouched";
};

ChainResult runChain(const std::string& answer, int16_t address, DeviceRecord start = {}) {
    ChainResult r;
    r.entry = std::move(start);
    for (const ModelProbe& p : ModelProbes()) {
        if (RunProbe(p, answer, address, r.entry, r.tooltip)) {
            ++r.matches;
            r.probe = &p;
        }
    }
    return r;
}

struct Case {
    const char* probe;
    const char* answer;  // after the manufacturer field
    int32_t code;
    const char* suffix;
    const char* serial;
    const char* firmware;
    const char* tooltip;
    const char* info;
    bool options;
};

// One matched answer for every probe of the chain.
const Case kCases[] = {
    {"ProbeHWPZ", "HWPZ3,100001/001,2.01\n", 31, "3", "100001/001", "2.01",
     "Addr 4: HWPZ3, firmware 2.01", "HWPZ (2.01)", true},
    {"ProbeKLVZ", "KLVZ26,100234/003,1.60\n", 12, "26", "100234/003", "1.60",
     "Addr 4: KLVZ26, firmware 1.60", "KLVZ (1.60)", true},
    {"ProbeGWPZ", "GWPZ10,100567/001,5.10\n", 21, "10", "100567/001", "5.10",
     "Addr 4: GWPZ10, firmware 5.10", "GWPZ (5.10)", true},
    {"ProbeGWK", "GWK-2,7,1.1\n", 32, "2", "7", "1.1", "Addr 4: GWK2, firmware 1.1", "GWK (1.1)",
     true},
    {"ProbeGJX", "GJX 40,8,4.0\n", 76, "40", "8", "4.0", "Addr 4: GJX40, firmware 4.0", "GJX (4.0)",
     true},
    {"ProbeKLT", "KLT-3,100871/012,1.70\n", 13, "3", "100871/012", "1.70",
     "Addr 4: KLT3, firmware 1.70", "KLT (1.70)", true},
    {"ProbeKLW", "KLW-7,1,3.3\n", 16, "7", "1", "3.3", "Addr 4: KLW7, firmware 3.3", "KLW (3.3)",
     true},
    {"ProbeKLB", "KLB 12,2,1.0\n", 17, "12", "2", "1.0", "Addr 4: KLB12, firmware 1.0", "KLB (1.0)",
     true},
    {"ProbePBH", "PBH200,55,3.50\n", 41, "200", "55", "3.50", "Addr 4: PBH200, firmware 3.50",
     "PBH (3.50)", true},
    {"ProbeNQ", "NQD8,100321/002,1.45\n", 71, "", "100321/002", "1.45",
     "Addr 4: NQx, firmware 1.45", "NQx (1.45)", true},
    {"ProbeRVM", "RVM-5,9,2.2\n", 12, "5", "9", "2.2", "Addr 4: RVM5, firmware 2.2", "RVM (2.2)",
     true},
    {"ProbeRVFE", "RVFE18,3,0.9\n", 15, "18", "3", "0.9", "Addr 4: RVFE18, firmware 0.9",
     "RVFE (0.9)", true},
    {"ProbeKLR", "KLR20,100112/004,3.10\n", 11, "0", "100112/004", "3.10",
     "Addr 4: KLR0, firmware 3.10", "KLR (3.10)", true},
    {"ProbeJXN", "  JXN,V 2.04", 33, "", "kept", "2.04", "Addr 4: JXN, firmware 2.04", "JXN (2.04)",
     false},
};

TEST(ModelProbes, EveryProbeRecognisesItsModelAloneInChainOrder) {
    ASSERT_EQ(ModelProbes().size(), std::size(kCases));
    for (size_t i = 0; i < std::size(kCases); ++i) {
        const Case& c = kCases[i];
        SCOPED_TRACE(c.probe);
        EXPECT_STREQ(ModelProbes()[i].name, c.probe);
        DeviceRecord start;
        start.SerialNo = "kept";
        start.OptionsSupported = !c.options;
        const ChainResult r = runChain(pad(c.answer), 4, start);
        ASSERT_EQ(r.matches, 1);
        EXPECT_STREQ(r.probe->name, c.probe);
        EXPECT_EQ(r.entry.DeviceTyp, c.code);
        EXPECT_EQ(r.entry.ModelSuffix, c.suffix);
        EXPECT_EQ(r.entry.SerialNo, c.serial);
        EXPECT_EQ(r.entry.Firmware, c.firmware);
        EXPECT_EQ(r.tooltip, c.tooltip);
        EXPECT_EQ(r.entry.DeviceInfo, c.info);
        EXPECT_EQ(r.entry.OptionsSupported, c.options);
    }
}

TEST(ModelProbes, NoMatchTextIsAPrefixOfAnother) {
    for (const ModelProbe& a : ModelProbes()) {
        for (const ModelProbe& b : ModelProbes()) {
            if (&a == &b)
                continue;
            EXPECT_NE(std::string(b.match).rfind(a.match, 0), 0u) << a.match << " / " << b.match;
        }
    }
}

TEST(ModelProbes, CommonRuleDetails) {
    // Four-letter model field: empty suffix.
    EXPECT_EQ(runChain(pad("KLVZ,1,1.60\n"), 20).tooltip, "Addr 20: KLVZ, firmware 1.60");
    // Blanks around the firmware stay in the tooltip and leave the description.
    const ChainResult blanks = runChain(pad("KLVZ26,1,  1.60 \n"), 20);
    EXPECT_EQ(blanks.tooltip, "Addr 20: KLVZ26, firmware   1.60 ");
    EXPECT_EQ(blanks.entry.DeviceInfo, "KLVZ (1.60)");
    // PBH names run on from the fourth character.
    EXPECT_EQ(runChain(pad("PBH200,1,3.50\n"), 5).tooltip, "Addr 5: PBH200, firmware 3.50");
    // Case matters: a lower-case model is nobody's.
    const ChainResult lower = runChain(pad("klvz26,1,1.60\n"), 20);
    EXPECT_EQ(lower.matches, 0);
    EXPECT_EQ(lower.tooltip, "untouched");
    EXPECT_EQ(lower.entry.DeviceTyp, 0);
    EXPECT_EQ(lower.entry.DeviceInfo, "");
}

TEST(ModelProbes, JxnKeepsALineFeedInItsFirmware) {
    const ChainResult r = runChain(pad("JXN,V 2.04\n"), 9);
    ASSERT_EQ(r.matches, 1);
    EXPECT_EQ(r.entry.Firmware, "2.04\n");
    EXPECT_EQ(r.tooltip, "Addr 9: JXN, firmware 2.04\n");
    EXPECT_EQ(r.entry.DeviceInfo, "JXN (2.04\n)");
    // Shorter than six characters: empty firmware.
    EXPECT_EQ(runChain(pad("JXN"), 9).entry.Firmware, "");
}

TEST(ModelProbes, MissingDelimitersGiveEmptyFields) {
    struct Broken {
        const char* answer;
        const char* suffix;
        const char* serial;
        const char* firmware;
    } cases[] = {
        {"KLVZ26\n", "26", "", ""},                          // no comma at all
        {"KLVZ26", "26", "", ""},                            // not even a line feed
        {"KLVZ26,100234/003\n", "26", "", ""},               // no comma after the serial number
        {"KLVZ26,100234/003,1.60", "26", "100234/003", ""},  // cut before the line feed
        {"PBH200", "200", "", ""},
    };
    for (const Broken& c : cases) {
        SCOPED_TRACE(c.answer);
        DeviceRecord start;
        start.SerialNo = "old";
        start.Firmware = "old";
        const ChainResult r = runChain(pad(c.answer), 3, start);
        ASSERT_EQ(r.matches, 1);
        EXPECT_EQ(r.entry.ModelSuffix, c.suffix);
        EXPECT_EQ(r.entry.SerialNo, c.serial);
        EXPECT_EQ(r.entry.Firmware, c.firmware);
    }
    // Unpadded and empty texts are safe too.
    EXPECT_EQ(runChain("", 1).matches, 0);
    EXPECT_EQ(runChain("NQ", 1).entry.DeviceInfo, "NQx ()");
}

}  // namespace
}  // namespace benchcap::scanner
