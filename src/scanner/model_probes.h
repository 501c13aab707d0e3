#pragma once

// The model probes: each one recognises one of the maker's model families in an
// identification answer and fills the device table entry of that address.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace benchcap::scanner {

// One entry of the scanner's device table; the index in the table is the bus address.
struct DeviceRecord {
    int32_t DeviceTyp = 0;    // 0 nothing recognised, 99 another maker, else a model code
    std::string ModelSuffix;  // what follows the model name in the model field
    std::string SerialNo;
    std::string Firmware;
    std::string DeviceInfo;  // "KLVZ (1.60)", or "-----"
    std::string IDAnswer;    // the identification answer exactly as read
    std::string OptionList;  // the "*OPT?" answer exactly as read
    bool OptionsSupported = false;
};

// Device type codes the scan assigns itself; the model codes are in the probe table.
inline constexpr int32_t kTypeNothing = 0;
inline constexpr int32_t kTypeOtherMaker = 99;

// How a probe takes the model suffix from the model field.
enum class SuffixRule {
    FromFifth,   // from the model field's fifth character on (three- and four-letter names)
    AfterMatch,  // from the fourth character of the answer (PBH, whose names run on: PBH200)
    None,        // always empty
};

struct ModelProbe {
    const char* name;     // ProbeKLVZ, ... (for messages and tests)
    const char* match;    // compared, case-sensitive, with the start of the answer
    int32_t code;         // device type code it assigns
    const char* display;  // model text of the tooltip and DeviceInfo
    SuffixRule suffix;
    // JXN instruments answer without the usual fields: the answer is stripped of blanks
    // before the match, the firmware is the text from its sixth character, no serial
    // number is taken, and they are never asked for options.
    bool firmwareFromSixth;
    bool optionsSupported;
};

// The fourteen probes in the order the scan calls them. No match text is a prefix of
// another, so at most one probe recognises an answer.
std::span<const ModelProbe> ModelProbes();

// Runs one probe on `answer` (the identification answer without its manufacturer field,
// blank-padded). On a match it writes DeviceTyp, ModelSuffix, SerialNo (not for JXN),
// Firmware, DeviceInfo and OptionsSupported of `entry` and the indicator's `tooltip`, and
// returns true; otherwise it changes nothing. A matched answer that lacks a comma or the
// closing line feed takes the field that delimiter would close, and every field after it,
// as empty.
bool RunProbe(const ModelProbe& probe, std::string_view answer, int16_t address,
              DeviceRecord& entry, std::string& tooltip);

}  // namespace benchcap::scanner
