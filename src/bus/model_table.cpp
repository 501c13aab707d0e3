#include "bus/model_table.h"

#include "bus/identification.h"

namespace benchcap::bus {
namespace {

// A row names only what differs from the defaults of model_table.h; GCC 12 would still
// take every member left out of a designated initializer for a mistake.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

// No scan match text is a prefix of another, and no identification prefix occurs twice, so
// the order decides nothing; the scan's probes come first, in the order it calls them.
std::vector<ModelFamily> makeTable() {
    return {
        {.name = "HWPZ", .probe = {.match = "HWPZ", .code = 31, .display = "HWPZ"}},
        {.name = "KLVZ",
         .idnPrefixes = {"KLV"},
         .fullSupport = true,
         .firmware = {.minimum = 1.9, .drive = "C"},
         .traces = TraceReadout::Analyzer,
         .probe = {.match = "KLVZ", .code = 12, .display = "KLVZ"}},
        {.name = "GWPZ",
         .idnPrefixes = {"GWP"},
         .fullSupport = true,
         .firmware = {.minimum = 5.1, .drive = ""},
         .generatorHardcopy = true,
         .probe = {.match = "GWPZ", .code = 21, .display = "GWPZ"}},
        {.name = "GWK", .probe = {.match = "GWK", .code = 32, .display = "GWK"}},
        {.name = "GJX", .probe = {.match = "GJX", .code = 76, .display = "GJX"}},
        {.name = "KLT",
         .idnPrefixes = {"KLT"},
         .fullSupport = true,
         .firmware = {.drive = "D"},
         .traceCount = 3,
         .traces = TraceReadout::Analyzer,
         .probe = {.match = "KLT", .code = 13, .display = "KLT"}},
        {.name = "KLW",
         .idnPrefixes = {"KLW"},
         .fullSupport = true,
         .firmware = {.drive = "D"},
         .traceCount = 3,
         .traces = TraceReadout::Analyzer,
         .probe = {.match = "KLW", .code = 16, .display = "KLW"}},
        {.name = "KLB",
         .idnPrefixes = {"KLB"},
         .fullSupport = true,
         .traceCount = 3,
         .traces = TraceReadout::Analyzer,
         .probe = {.match = "KLB", .code = 17, .display = "KLB"}},
        {.name = "PBH",
         .idnPrefixes = {"PBH"},
         .fullSupport = true,
         .probe = {.match = "PBH", .code = 41, .display = "PBH", .suffix = SuffixRule::AfterMatch}},
        {.name = "NQx",
         .idnPrefixes = {"NQD", "NQS", "NQL", "NQY", "NQT", "NQG"},
         .fullSupport = true,
         .traces = TraceReadout::Network,
         .remoteEnableForHardcopy = true,
         .probe = {.match = "NQ", .code = 71, .display = "NQx", .suffix = SuffixRule::None}},
        {.name = "RVM",
         .idnPrefixes = {"RVM"},
         .fullSupport = true,
         .traces = TraceReadout::Analyzer,
         .probe = {.match = "RVM", .code = 12, .display = "RVM"}},
        {.name = "RVFE",
         .idnPrefixes = {"RVF"},
         .fullSupport = true,
         .firmware = {.drive = "D"},
         .traceCount = 3,
         .traces = TraceReadout::Analyzer,
         .probe = {.match = "RVFE", .code = 15, .display = "RVFE"}},
        {.name = "KLRx",
         .idnPrefixes = {"KLR"},
         .fullSupport = true,
         .firmware = {.minimum = 1.65, .drive = "", .driveByVersion = {"", "D", "C", "D", "C"}},
         .traces = TraceReadout::Analyzer,
         .probe = {.match = "KLR", .code = 11, .display = "KLR"}},
        {.name = "JXN",
         .probe = {.match = "JXN",
                   .code = 33,
                   .display = "JXN",
                   .suffix = SuffixRule::None,
                   .firmwareFromSixth = true,
                   .optionsSupported = false}},
        {.name = "KLD", .idnPrefixes = {"KLD"}},
        {.name = "KLG", .idnPrefixes = {"KLG"}},
        // Known, but its screen cannot be read in any way.
        {.name = kModelNotSupported, .idnPrefixes = {"PBE"}},
        {.name = "RVHE", .idnPrefixes = {"RVH"}},
        {.name = "RVCE", .idnPrefixes = {"RVC"}},
        {.name = "TDS220", .idnPrefixes = {"TDS"}, .fullSupport = true},
        {.name = "YKR", .idnPrefixes = {"YKR"}, .fullSupport = true},
    };
}

#pragma GCC diagnostic pop

}  // namespace

std::span<const ModelFamily> modelTable() {
    static const std::vector<ModelFamily> table = makeTable();
    return table;
}

const ModelFamily* familyNamed(std::string_view name) {
    for (const ModelFamily& family : modelTable()) {
        if (family.name == name)
            return &family;
    }
    return nullptr;
}

}  // namespace benchcap::bus
