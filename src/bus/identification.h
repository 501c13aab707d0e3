#pragma once

#include <string>
#include <string_view>

#include "bus/model_table.h"
#include "bus/session.h"
#include "bus/user_interface.h"

namespace benchcap::bus {

// Model names that are no model: nothing answered the identification, the answer named
// no known family, the family is known but not supported.
inline constexpr char kModelNoAnswer[] = "TMO";
inline constexpr char kModelUnknown[] = "unknown";
inline constexpr char kModelNotSupported[] = "C.N.S.";

// What an identification answer says. `model` is null for "TMO" (nothing answered) and
// "unknown" (no family of the model table matched); the firmware version is only read for
// a known model.
struct Identification {
    std::string modelName;
    const ModelFamily* model = nullptr;
    double firmwareVersion = 0.0;
};

// Reads a *IDN? reply as the session returns it (NUL-filled, blank-trimmed).
Identification IdentifyAnswer(std::string_view answer);

// The firmware version from a text that starts at the model field: the third field,
// up to its line feed, as a decimal number with at most one point; never fails.
double ParseFirmware(std::string_view s);

// Checks the firmware of the identified instrument against its family's minimum and sets
// `hardcopyDrive` as the family's rule says (a name the model table lacks: no minimum,
// drive C). On failure it shows the critical box
// "HARDCOPY NOT AVAILABLE!" and returns false. `decimalSeparator` is the user's
// regional one, used in the two numbers of the message.
bool CheckFirmware(const CurrentInstrument& instrument, std::string& hardcopyDrive,
                   UserInterface& ui, char decimalSeparator = '.');

}  // namespace benchcap::bus
