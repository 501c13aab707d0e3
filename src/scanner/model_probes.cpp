#include "scanner/model_probes.h"

#include <array>

#include "bus/text.h"

namespace benchcap::scanner {
namespace {

constexpr std::array<ModelProbe, 14> kProbes = {{
    {"ProbeHWPZ", "HWPZ", 31, "HWPZ", SuffixRule::FromFifth, false, true},
    {"ProbeKLVZ", "KLVZ", 12, "KLVZ", SuffixRule::FromFifth, false, true},
    {"ProbeGWPZ", "GWPZ", 21, "GWPZ", SuffixRule::FromFifth, false, true},
    {"ProbeGWK", "GWK", 32, "GWK", SuffixRule::FromFifth, false, true},
    {"ProbeGJX", "GJX", 76, "GJX", SuffixRule::FromFifth, false, true},
    {"ProbeKLT", "KLT", 13, "KLT", SuffixRule::FromFifth, false, true},
    {"ProbeKLW", "KLW", 16, "KLW", SuffixRule::FromFifth, false, true},
    {"ProbeKLB", "KLB", 17, "KLB", SuffixRule::FromFifth, false, true},
    {"ProbePBH", "PBH", 41, "PBH", SuffixRule::AfterMatch, false, true},
    {"ProbeNQ", "NQ", 71, "NQx", SuffixRule::None, false, true},
    {"ProbeRVM", "RVM", 12, "RVM", SuffixRule::FromFifth, false, true},
    {"ProbeRVFE", "RVFE", 15, "RVFE", SuffixRule::FromFifth, false, true},
    {"ProbeKLR", "KLR", 11, "KLR", SuffixRule::FromFifth, false, true},
    {"ProbeJXN", "JXN", 33, "JXN", SuffixRule::None, true, false},
}};

constexpr auto npos = std::string_view::npos;

// Text from position `from` on (empty when the text is shorter).
std::string_view from(std::string_view text, size_t pos) {
    return pos < text.size() ? text.substr(pos) : std::string_view();
}

// The model field: up to the first comma. Without any comma the answer is cut at its
// line feed, so the suffix does not run on into the blank padding.
std::string_view modelField(std::string_view answer, size_t comma) {
    if (comma != npos)
        return answer.substr(0, comma);
    return answer.substr(0, answer.find('\n'));
}

// IEEE 488.2 answer fields after the model: serial number up to the next comma, firmware
// up to the line feed that ends every answer. A field whose closing delimiter is missing
// (a cut or malformed answer) is empty, and so is every field after it.
void splitFields(std::string_view answer, size_t comma, std::string& serial,
                 std::string& firmware) {
    serial.clear();
    firmware.clear();
    if (comma == npos)
        return;
    const std::string_view rest = answer.substr(comma + 1);
    const size_t second = rest.find(',');
    if (second == npos)
        return;
    serial = rest.substr(0, second);
    const std::string_view last = rest.substr(second + 1);
    const size_t lf = last.find('\n');
    if (lf != npos)
        firmware = last.substr(0, lf);
}

}  // namespace

std::span<const ModelProbe> ModelProbes() {
    return kProbes;
}

bool RunProbe(const ModelProbe& probe, std::string_view answer, int16_t address,
              DeviceRecord& entry, std::string& tooltip) {
    const std::string_view match(probe.match);
    const std::string_view text = probe.firmwareFromSixth ? bus::TrimBlanks(answer) : answer;
    if (text.substr(0, match.size()) != match)
        return false;

    entry.DeviceTyp = probe.code;
    if (probe.firmwareFromSixth) {
        // A line feed in it stays part of the firmware text, as the instrument sent it.
        entry.ModelSuffix.clear();
        entry.Firmware = bus::TrimBlanks(from(text, 5));
    } else {
        const size_t comma = text.find(',');
        const std::string_view model = modelField(text, comma);
        switch (probe.suffix) {
            case SuffixRule::FromFifth:
                entry.ModelSuffix = bus::TrimBlanks(from(model, 4));
                break;
            case SuffixRule::AfterMatch:
                entry.ModelSuffix = bus::TrimBlanks(from(model, 3));
                break;
            case SuffixRule::None:
                entry.ModelSuffix.clear();
                break;
        }
        splitFields(text, comma, entry.SerialNo, entry.Firmware);
    }
    tooltip = "Addr " + std::to_string(address) + ": " + probe.display + entry.ModelSuffix +
              ", firmware " + entry.Firmware;
    entry.DeviceInfo =
        std::string(probe.display) + " (" + std::string(bus::TrimBlanks(entry.Firmware)) + ")";
    entry.OptionsSupported = probe.optionsSupported;
    return true;
}

}  // namespace benchcap::scanner
