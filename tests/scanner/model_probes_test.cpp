#include "scanner/model_probes.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "support/golden.h"

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

// "padded ANSWER" or "raw ANSWER": see tests/data/golden/scanner-model-probes.txt.
std::string chain(const std::string& input) {
    const bool pad = input.starts_with("padded ");
    std::string out, options;
    for (const bool before : {false, true}) {
        const ChainResult r = runChain(input.substr(input.find(' ') + 1), pad, before);
        if (!before) {
            out = r.matches ? "probe " + r.probe + (r.matches > 1 ? " and more" : "") + "\n" : "";
            out += "fields " +
                   std::regex_replace(r.fields.substr(0, r.fields.find("|-")), std::regex("\n"),
                                      "\\n") +
                   "\n";
        }
        options += std::string(before ? ", on " : "options off ") +
                   (r.fields.ends_with("|-") ? "no" : "yes");
    }
    return out + options + "\n";
}

TEST(ModelProbes, EachAnswerFindsItsOneProbeAndFillsTheEntry) {
    test::checkGolden("golden/scanner-model-probes.txt", chain);
}

}  // namespace
}  // namespace benchcap::scanner
