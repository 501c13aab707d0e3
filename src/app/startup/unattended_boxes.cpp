#include "app/startup/unattended_boxes.h"

namespace benchcap::app {
namespace {

// The hardcopy command's question whether to capture the instrument's plot instead.
bool isPlotterOffer(bus::MessageIcon icon, const std::string& title) {
    return icon == bus::MessageIcon::Question && title == "PLEASE SELECT";
}

}  // namespace

bus::MessageResult UnattendedBoxes::safeAnswer(bus::MessageButtons buttons) {
    return bus::SafeAnswer(buttons);
}

bus::MessageResult UnattendedBoxes::messageBox(bus::MessageIcon icon, const std::string& title,
                                               const std::string& text,
                                               bus::MessageButtons buttons) {
    const bool plotterOffer = isPlotterOffer(icon, title);
    if (plotterOffer && plotAccepted_ && plotAccepted_()) {
        if (unattended())
            report("", "press the hardcopy key of the instrument: its plot is captured (/PLOT)",
                   false);
        return bus::MessageResult::Yes;
    }
    if (!unattended())
        return shown_.messageBox(icon, title, text, buttons);
    if (plotterOffer) {
        report("",
               "the instrument only plots its screen: add /PLOT before /SCREEN to capture "
               "its plot",
               true);
    } else {
        report(title, text,
               icon == bus::MessageIcon::Critical || icon == bus::MessageIcon::Exclamation);
    }
    return safeAnswer(buttons);
}

std::optional<std::string> UnattendedBoxes::inputBox(const std::string& title,
                                                     const std::string& prompt,
                                                     const std::string& preset) {
    if (!unattended())
        return shown_.inputBox(title, prompt, preset);
    report(title, prompt, false);
    return std::nullopt;
}

}  // namespace benchcap::app
