#pragma once

#include <QString>

#include "app/ui/window_options.h"

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

// What the settings file keeps of the window: the check marks and the address, and beside
// them the auto-save folder, the printer's bus address and the window's place.
struct WindowSettings {
    WindowOptions options;
    QString dataPath;
    // The stored data path is not UTF-8: the folder its bytes name cannot be reached by the
    // text read from them (not stored; read only).
    bool dataPathNotUtf8 = false;
    int printerAddress = 5;
    WindowPlacement placement;

    bool operator==(const WindowSettings&) const = default;
};

// The stored settings over `current`: a missing key takes its first-start default,
// the place and the data path those of `current`; the rest not stored stays as it is.
WindowSettings readWindowSettings(SettingsStore& store, WindowSettings current);
// Writes the stored settings, under the names the settings file has always had.
void writeWindowSettings(SettingsStore& store, const WindowSettings& settings);

}  // namespace benchcap::app
