#pragma once

namespace benchcap::app {

// The window's check marks as one value: what the commands read instead of menu items,
// and what the settings file stores (under the menu items' names). The defaults are the
// menus as built, before start-up reads the stored choices.
struct WindowOptions {
    enum class HardcopyFormat { Wmf, Bmp };

    // "Hardcopy" > format and colour, and the instrument's configuration box.
    HardcopyFormat hardcopyFormat = HardcopyFormat::Wmf;
    bool color = false;
    bool suppressConfig = false;
    // "On hardcopy event": keep the file, copy to the clipboard, paste into the document.
    bool hardcopyAutoSave = false;
    bool hardcopyAutoClip = false;
    bool hardcopyAutoDocument = false;
    // "On trace copy event": keep the file, copy to the clipboard, paste into the sheet.
    bool traceAutoSave = false;
    bool traceAutoClip = false;
    bool traceAutoSheet = false;
    // The window itself.
    bool onTop = false;
    bool minimizeToTray = false;

    bool operator==(const WindowOptions&) const = default;
};

}  // namespace benchcap::app
