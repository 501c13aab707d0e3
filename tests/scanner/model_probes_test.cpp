#include "scanner/model_probes.h"

#include <gtest/gtest.h>

#include <string>

namespace benchcap::scanner {
namespace {

struct ChainResult {
    int matches = 0;
    std::string probe;
    std::string fields;  // "type|suffix|serial|firmware|tooltip|info"
};

// Runs the whole chain on an answer without its manufacturer field, blank-padded to 1000 as
// the scan hands it over; the entry starts with "old" serial number and firmware.
ChainResult runChain(std::string answer, bool pad = true, bool options = false) {
    if (pad)
        answer.resize(1000, ' ');
    DeviceRecord e;
    e.SerialNo = e.Firmware = "old";
    e.OptionsSupported = options;
    std::string tooltip = "untouched";
    ChainResult r;
    for (const ModelProbe& p : ModelProbes()) {
        if (RunProbe(p, answer, 4, e, tooltip))
            ++r.matches, r.probe = p.name;
    }
    r.fields = std::to_string(e.DeviceTyp) + "|" + e.ModelSuffix + "|" + e.SerialNo + "|" +
               e.Firmware + "|" + tooltip + "|" + e.DeviceInfo + (e.OptionsSupported ? "" : "|-");
    return r;
}

TEST(ModelProbes, EveryProbeRecognisesItsModelAloneInChainOrderAndOddAnswers) {
    // One matched answer for every probe, in chain order, then odd answers; "|-": never
    // asked for options.
    const std::pair<const char*, const char*> cases[] = {
        {"HWPZ3,100001/001,2.01\n",
         "31|3|100001/001|2.01|Addr 4: HWPZ3, firmware 2.01|HWPZ (2.01)"},
        {"KLVZ26,1,1.60\n", "12|26|1|1.60|Addr 4: KLVZ26, firmware 1.60|KLVZ (1.60)"},
        {"GWPZ10,1,5.10\n", "21|10|1|5.10|Addr 4: GWPZ10, firmware 5.10|GWPZ (5.10)"},
        {"GWK-2,7,1.1\n", "32|2|7|1.1|Addr 4: GWK2, firmware 1.1|GWK (1.1)"},
        {"GJX 40,8,4.0\n", "76|40|8|4.0|Addr 4: GJX40, firmware 4.0|GJX (4.0)"},
        {"KLT-3,100871/012,1.70\n", "13|3|100871/012|1.70|Addr 4: KLT3, firmware 1.70|KLT (1.70)"},
        {"KLW-7,1,3.3\n", "16|7|1|3.3|Addr 4: KLW7, firmware 3.3|KLW (3.3)"},
        {"KLB 12,2,1.0\n", "17|12|2|1.0|Addr 4: KLB12, firmware 1.0|KLB (1.0)"},
        // PBH names run on from the fourth character; NQ models are all "NQx".
        {"PBH200,55,3.50\n", "41|200|55|3.50|Addr 4: PBH200, firmware 3.50|PBH (3.50)"},
        {"NQD8,1,1.45\n", "71||1|1.45|Addr 4: NQx, firmware 1.45|NQx (1.45)"},
        {"RVM-5,9,2.2\n", "12|5|9|2.2|Addr 4: RVM5, firmware 2.2|RVM (2.2)"},
        {"RVFE18,3,0.9\n", "15|18|3|0.9|Addr 4: RVFE18, firmware 0.9|RVFE (0.9)"},
        {"KLR20,1,3.10\n", "11|0|1|3.10|Addr 4: KLR0, firmware 3.10|KLR (3.10)"},
        // JXN keeps the serial number and takes the firmware from the sixth character on.
        {"  JXN,V 2.04", "33||old|2.04|Addr 4: JXN, firmware 2.04|JXN (2.04)|-"},
        {"KLVZ,1,1.60\n", "12||1|1.60|Addr 4: KLVZ, firmware 1.60|KLVZ (1.60)"},
        // Blanks around the firmware stay in the tooltip and leave the description.
        {"KLVZ26,1,  1.60 \n", "12|26|1|  1.60 |Addr 4: KLVZ26, firmware   1.60 |KLVZ (1.60)"},
        // JXN keeps a line feed in its firmware; shorter than six characters: empty.
        {"JXN,V 2.04\n", "33||old|2.04\n|Addr 4: JXN, firmware 2.04\n|JXN (2.04\n)|-"},
        {"JXN", "33||old||Addr 4: JXN, firmware |JXN ()|-"},
        // Missing delimiters give empty fields.
        {"KLVZ26\n", "12|26|||Addr 4: KLVZ26, firmware |KLVZ ()"},
        {"KLVZ26,100234/003\n", "12|26|||Addr 4: KLVZ26, firmware |KLVZ ()"},
        {"KLVZ26,100234/003,1.60", "12|26|100234/003||Addr 4: KLVZ26, firmware |KLVZ ()"},
        {"PBH200", "41|200|||Addr 4: PBH200, firmware |PBH ()"},
        // Case matters: a lower-case model is nobody's, and nothing is touched.
        {"klvz26,1,1.60\n", "0||old|old|untouched||-"},
    };
    const std::size_t probes = ModelProbes().size();
    ASSERT_EQ(probes, 14u);
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].first);
        // Start with the opposite of the expected options flag, so that it must be set.
        const ChainResult r = runChain(cases[i].first, true, i == probes - 1);
        EXPECT_EQ(r.matches, cases[i].second[0] == '0' ? 0 : 1);
        if (i < probes) {
            EXPECT_EQ(r.probe, ModelProbes()[i].name);
        }
        EXPECT_EQ(r.fields, cases[i].second);
    }
    // Unpadded and empty texts are safe too.
    EXPECT_EQ(runChain("", false).matches, 0);
    EXPECT_EQ(runChain("NQ", false).fields, "71||||Addr 4: NQx, firmware |NQx ()");
}

}  // namespace
}  // namespace benchcap::scanner
