#pragma once

#include <QString>

namespace benchcap::app {

class SettingsStore;

// Where the window was, in twips, as the settings file keeps it.
struct WindowPlacement {
    double left = 0;
    double width = 0;
    double top = 0;
    double height = 0;

    bool operator==(const WindowPlacement&) const = default;
};

// The window's check marks as one value: what the commands read instead of menu items,
// and what the settings file stores (under the menu items' names). The defaults are the
// menus as built, before start-up reads the stored choices.
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

    // Stored beside the check marks: the bus address, the auto-save folder, the printer's
    // bus address and the window's place.
    int address = 20;
    QString dataPath;
    // The stored data path is not UTF-8: the folder its bytes name cannot be reached by the
    // text read from them (not stored; read only).
    bool dataPathNotUtf8 = false;
    int printerAddress = 5;
    WindowPlacement placement;

    bool operator==(const WindowOptions&) const = default;
};

// The stored settings over `current`: a missing key takes its first-start default,
// the place and the data path those of `current`; the options not stored stay as they are.
WindowOptions readWindowOptions(SettingsStore& store, WindowOptions current);
// Writes the stored settings, under the names the settings file has always had.
void writeWindowOptions(SettingsStore& store, const WindowOptions& options);

}  // namespace benchcap::app
