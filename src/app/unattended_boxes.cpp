#include "app/unattended_boxes.h"

namespace benchcap::app {

bus::MessageResult UnattendedBoxes::safeAnswer(bus::MessageButtons buttons) {
    switch (buttons) {
        case bus::MessageButtons::Ok:
            return bus::MessageResult::Ok;
        case bus::MessageButtons::OkCancel:
            return bus::MessageResult::Cancel;
        case bus::MessageButtons::YesNo:
        case bus::MessageButtons::YesNoCancel:
            return bus::MessageResult::No;
    }
    return bus::MessageResult::Cancel;
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
