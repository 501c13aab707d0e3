#pragma once

// The model probes: each one recognises one of the maker's model families in an
// identification answer and fills the device table entry of that address.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "bus/model_table.h"

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

// Device type codes the scan assigns itself; the model codes are in the model table.
inline constexpr int32_t kTypeNothing = 0;
inline constexpr int32_t kTypeOtherMaker = 99;

// A probe of the scan: one family of the model table (bus/model_table.h) that the scan
// recognises.
struct ModelProbe {
    std::string name;            // ProbeKLVZ, ... (for messages and tests)
    const bus::ScanProbe* scan;  // the family's row
};

// The probes in the order the scan calls them. No match text is a prefix of another, so at
// most one probe recognises an answer.
std::vector<ModelProbe> ModelProbes();

// Runs one probe on `answer` (the identification answer without its manufacturer field,
// blank-padded). On a match it writes DeviceTyp, ModelSuffix, SerialNo (not for JXN),
// Firmware, DeviceInfo and OptionsSupported of `entry` and the indicator's `tooltip`, and
// returns true; otherwise it changes nothing. A matched answer that lacks a comma or the
// closing line feed takes the field that delimiter would close, and every field after it,
// as empty.
bool RunProbe(const ModelProbe& probe, std::string_view answer, int16_t address,
              DeviceRecord& entry, std::string& tooltip);

}  // namespace benchcap::scanner
