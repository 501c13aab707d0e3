#pragma once

#include <QString>

#include <optional>

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

// The data path when none is stored, and why it is not the program's folder (empty when it is).
struct DefaultDataPath {
    QString folder;
    QString reason;
};
// The program's folder while files can be written there (a program unpacked into a folder
// of the user's). An installed one's folder belongs to the system: then Documents/Benchcap
// where it exists (earlier versions wrote there; stored files and jobs rely on it), else
// benchcap in the desktop's Pictures folder, or in Documents when there is none.
// `programFolderWritable` unset: the file system is asked.
DefaultDataPath defaultDataPath(const QString& programFolder, const QString& pictures,
                                const QString& documents,
                                std::optional<bool> programFolderWritable = std::nullopt);

}  // namespace benchcap::app
