#include "scanner/model_probes.h"

#include "bus/text.h"

namespace benchcap::scanner {
namespace {

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

std::vector<ModelProbe> ModelProbes() {
    std::vector<ModelProbe> probes;
    for (const bus::ModelFamily& family : bus::modelTable()) {
        if (!family.probe.match.empty())
            probes.push_back({"Probe" + family.probe.match, &family.probe});
    }
    return probes;
}

bool RunProbe(const ModelProbe& modelProbe, std::string_view answer, int16_t address,
              DeviceRecord& entry, std::string& tooltip) {
    const bus::ScanProbe& probe = *modelProbe.scan;
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
            case bus::SuffixRule::FromFifth:
                entry.ModelSuffix = bus::TrimBlanks(from(model, 4));
                break;
            case bus::SuffixRule::AfterMatch:
                entry.ModelSuffix = bus::TrimBlanks(from(model, 3));
                break;
            case bus::SuffixRule::None:
                entry.ModelSuffix.clear();
                break;
        }
        splitFields(text, comma, entry.SerialNo, entry.Firmware);
    }
    tooltip = "Addr " + std::to_string(address) + ": " + probe.display + entry.ModelSuffix +
              ", firmware " + entry.Firmware;
    entry.DeviceInfo = probe.display + " (" + std::string(bus::TrimBlanks(entry.Firmware)) + ")";
    entry.OptionsSupported = probe.optionsSupported;
    return true;
}

}  // namespace benchcap::scanner
