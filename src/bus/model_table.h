#pragma once

// The model table: everything Benchcap knows about each instrument family, in one place.
// Identification, the firmware check, the scan, the hardcopy and the trace commands ask a
// family's row for what they need; none of them tells families apart by name. A new family
// is one more row. Rows are plain data.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace benchcap::bus {

// The firmware a family needs for hardcopies over the bus, and the drive its hardcopy file
// goes to.
struct FirmwareRule {
    double minimum = -1;      // compared in single precision; -1: no minimum
    std::string drive = "C";  // fixed drive letter; empty: by version
    // By the rounded version 1..4 (index); empty: the drive stays as it was.
    std::array<std::string, 5> driveByVersion{};
};

// Which trace commands a family has.
enum class TraceReadout {
    None,      // no trace commands (the trace reads nothing)
    Analyzer,  // spectrum or vector analyzer: traces with centre, span and sweep time
    Network,   // network analyzer: channels
};

// How the scan takes the model suffix from the model field.
enum class SuffixRule {
    FromFifth,   // from the model field's fifth character on (three- and four-letter names)
    AfterMatch,  // from the fourth character of the answer (PBH, whose names run on: PBH200)
    None,        // always empty
};

// How the bus scan recognises a family in an identification answer.
struct ScanProbe {
    std::string match;    // compared, case-sensitive, with the start of the answer; empty:
                          // the scan does not recognise the family
    int32_t code = 0;     // device type code it assigns
    std::string display;  // model text of the tooltip and DeviceInfo
    SuffixRule suffix = SuffixRule::FromFifth;
    // JXN instruments answer without the usual fields: the answer is stripped of blanks
    // before the match, the firmware is the text from its sixth character, no serial
    // number is taken, and they are never asked for options.
    bool firmwareFromSixth = false;
    bool optionsSupported = true;
};

struct ModelFamily {
    std::string name;  // the model name identification gives (CurrentInstrument::ModelName)
    // The first three characters of the identification answer's model field that name the
    // family (exact, case-sensitive); none: identification does not know it.
    std::vector<std::string> idnPrefixes;
    bool fullSupport = false;  // hardcopy by transfer and trace readout; else the plotter
    FirmwareRule firmware;
    int traceCount = 4;  // highest trace number the trace commands accept
    TraceReadout traces = TraceReadout::None;
    // Its hardcopy transfer needs remote enable asserted (ibsre 1); others get it released.
    bool remoteEnableForHardcopy = false;
    // Sends its screen as a bitmap on "HCOP:DATA?" rather than by a mass-memory transfer.
    bool generatorHardcopy = false;
    ScanProbe probe;
};

// Every family; the scan probes them in this order.
std::span<const ModelFamily> modelTable();

// The family of a model name as identification gives it; null for "TMO", "unknown" and
// any name no row has.
const ModelFamily* familyNamed(std::string_view name);

}  // namespace benchcap::bus
