#include "bus/identification.h"

#include <algorithm>
#include <cfloat>
#include <charconv>

#include "bus/number.h"
#include "bus/text.h"

namespace benchcap::bus {
namespace {

std::string_view afterFirstComma(std::string_view s) {
    const auto comma = s.find(',');
    return comma == std::string_view::npos ? s : s.substr(comma + 1);
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

std::string formatTwoDecimals(double value, char separator) {
    char buf[512];  // wide enough for any double in fixed notation
    const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 2);
    std::string out(buf, res.ptr);
    for (char& c : out) {
        if (c == '.')
            c = separator;
    }
    return out;
}

}  // namespace

Identification IdentifyAnswer(std::string_view answer) {
    Identification id;
    const std::string_view rest = TrimBlanks(afterFirstComma(answer));
    if (rest.empty() || rest.front() == '\0') {
        id.modelName = kModelNoAnswer;
        return id;
    }
    const std::string_view head = rest.substr(0, 3);
    for (const ModelFamily& family : modelTable()) {
        for (const std::string& prefix : family.idnPrefixes) {
            if (head == prefix) {
                id.model = &family;
                id.modelName = family.name;
                id.firmwareVersion = ParseFirmware(rest);
                return id;
            }
        }
    }
    id.modelName = kModelUnknown;
    return id;
}

double ParseFirmware(std::string_view s) {
    s = afterFirstComma(s);
    s = afterFirstComma(s);
    if (const auto lf = s.find('\n'); lf != std::string_view::npos)
        s = s.substr(0, lf);

    // Keep the digits, points and commas at the start; an odd character that ends the
    // field is kept with it.
    size_t keep = 0;
    while (keep < s.size() && (isDigit(s[keep]) || s[keep] == '.' || s[keep] == ','))
        ++keep;
    if (keep + 1 == s.size())
        keep = s.size();
    const std::string_view kept = s.substr(0, keep);

    if (kept.empty() || !isDigit(kept.front()))
        return 0.0;
    size_t end = 0;
    while (end < kept.size() && isDigit(kept[end]))
        ++end;
    if (end < kept.size() && kept[end] == '.') {
        ++end;
        while (end < kept.size() && isDigit(kept[end]))
            ++end;
    }
    return ParseNumber(kept.substr(0, end));
}

bool CheckFirmware(const CurrentInstrument& instrument, std::string& hardcopyDrive,
                   UserInterface& ui, char decimalSeparator) {
    const FirmwareRule other;
    const ModelFamily* family = familyNamed(instrument.ModelName);
    const FirmwareRule& rule = family ? family->firmware : other;
    if (!rule.drive.empty()) {
        hardcopyDrive = rule.drive;
    } else {
        const double rounded = RoundHalfEven(instrument.FirmwareVersion);
        if (rounded >= 1 && rounded <= 4) {
            if (const std::string& d = rule.driveByVersion[static_cast<size_t>(rounded)];
                !d.empty())
                hardcopyDrive = d;
        }
    }
    // Compared in single precision, as the versions are given.
    // A version beyond the float range (any digits may come back) saturates.
    const float version = static_cast<float>(std::clamp(
        instrument.FirmwareVersion, -static_cast<double>(FLT_MAX), static_cast<double>(FLT_MAX)));
    const float minimum = static_cast<float>(rule.minimum);
    if (!(version < minimum))
        return true;
    ui.messageBox(MessageIcon::Critical, "HARDCOPY NOT AVAILABLE!",
                  "You need firmware version " + formatTwoDecimals(minimum, decimalSeparator) +
                      " to read out hardcopies over IEEE-bus.\nYou have firmware version " +
                      formatTwoDecimals(version, decimalSeparator),
                  MessageButtons::Ok);
    return false;
}

}  // namespace benchcap::bus
