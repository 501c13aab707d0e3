#include "app/unattended_boxes.h"

namespace benchcap::app {

bus::MessageResult UnattendedBoxes::safeAnswer(bus::MessageButtons buttons) {
    return bus::SafeAnswer(buttons);
}

bus::MessageResult UnattendedBoxes::messageBox(bus::MessageIcon icon, const std::string& title,
                                               const std::string& text,
                                               bus::MessageButtons buttons) {
    if (!unattended())
        return shown_.messageBox(icon, title, text, buttons);
    if (report_)
        report_(title, text,
                icon == bus::MessageIcon::Critical || icon == bus::MessageIcon::Exclamation);
    return safeAnswer(buttons);
}

std::optional<std::string> UnattendedBoxes::inputBox(const std::string& title,
                                                     const std::string& prompt,
                                                     const std::string& preset) {
    if (!unattended())
        return shown_.inputBox(title, prompt, preset);
    if (report_)
        report_(title, prompt, false);
    return std::nullopt;
}

}  // namespace benchcap::app
