#pragma once

#include <span>
#include <string>
#include <string_view>

#include "bus/session.h"
#include "bus/user_interface.h"

namespace benchcap::bus {

// Model names that are no model: nothing answered the identification, the answer named
// no known family, the family is known but not supported.
inline constexpr char kModelNoAnswer[] = "TMO";
inline constexpr char kModelUnknown[] = "unknown";
inline constexpr char kModelNotSupported[] = "C.N.S.";

// One row of the model table: the first three characters of the model field of an
// identification answer name the family.
struct ModelRow {
    const char* prefix;  // compared exactly and case-sensitively
    const char* modelName;
    bool fullSupport;
};

// The model table in the order it is searched.
std::span<const ModelRow> modelTable();

// What an identification answer says. `model` is null for "TMO" (nothing answered) and
// "unknown" (no row matched); the firmware version is only read for a known model.
struct Identification {
    std::string modelName;
    const ModelRow* model = nullptr;
    double firmwareVersion = 0.0;
};

// Reads a *IDN? reply as the session returns it (NUL-filled, blank-trimmed).
Identification IdentifyAnswer(std::string_view answer);

// The firmware version from a text that starts at the model field: the third field,
// up to its line feed, as a decimal number with at most one point; never fails.
double ParseFirmware(std::string_view s);

// One row of the firmware minimum table.
struct FirmwareRow {
    const char* modelName;
    double minimum;  // -1: no minimum
    // Drive letter of the hardcopy file: fixed, or chosen by the rounded version.
    const char* drive;              // nullptr: by version (or unchanged)
    const char* driveByVersion[5];  // index = rounded version 1..4; nullptr: unchanged
};

std::span<const FirmwareRow> firmwareTable();

// Checks the firmware of the identified instrument against its model's minimum and sets
// `hardcopyDrive` as the model's row says. On failure it shows the critical box
// "HARDCOPY NOT AVAILABLE!" and returns false. `decimalSeparator` is the user's
// regional one, used in the two numbers of the message.
bool CheckFirmware(const CurrentInstrument& instrument, std::string& hardcopyDrive,
                   UserInterface& ui, char decimalSeparator = '.');

}  // namespace benchcap::bus
