#pragma once

namespace benchcap::app {

// The window's check marks as one value, every menu item bound to its field: what the
// commands read instead of menu items, and what the settings file stores (under the menu
// items' names). The defaults are the menus as built, before start-up reads the stored
// choices.
struct WindowOptions {
    enum class HardcopyFormat { Wmf, Bmp };

    // "Hardcopy" > format and colour, and the instrument's configuration box.
    HardcopyFormat hardcopyFormat = HardcopyFormat::Wmf;
    bool color = false;
    bool suppressConfig = false;
    // "Plotter model": the plotter the plotter emulation answers as (7470A unchecked).
    bool plotter7475 = false;
    // "Plotter model" > "Listen-only": a "++" adapter hears an instrument in talk-only mode;
    // kept, and turned off at start where the interface cannot listen only.
    bool plotterListenOnly = false;
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
    // "Setup" > "Bus log...": every driver call written to a file (docs/bus-log.md). Stored
    // with its file by the bus log's switch (app/startup/bus_log_switch.h), not here.
    bool busLog = false;
    // "Setup" > "Bus log with full data": blocks over 4 KiB logged whole, not shortened.
    bool busLogFull = false;

    // "Setup" > "Address": the checked bus address, 0 while none is.
    int address = 0;

    bool operator==(const WindowOptions&) const = default;
};

}  // namespace benchcap::app
