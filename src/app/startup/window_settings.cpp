#include "app/startup/window_settings.h"

#include <QDir>
#include <QFileInfo>

#include "app/startup/settings_store.h"
#include "app/ui/qt_text.h"

namespace benchcap::app {

namespace {

const QString kApplication = QStringLiteral("BENCHCAP");
const QString kSection = QStringLiteral("Settings");

// The check marks stored under their menu item's name, with their first-start defaults.
constexpr struct {
    const char* key;
    bool WindowOptions::*field;
    bool fallback;
} kStoredMarks[] = {
    {"HardAutoSave", &WindowOptions::hardcopyAutoSave, true},
    {"HardAutoClip", &WindowOptions::hardcopyAutoClip, true},
    {"HardAutoExcel", &WindowOptions::hardcopyAutoDocument, false},
    {"TraceAutoSave", &WindowOptions::traceAutoSave, true},
    {"TraceAutoClip", &WindowOptions::traceAutoClip, true},
    {"TraceAutoExcel", &WindowOptions::traceAutoSheet, false},
    // Kept since the window remembers what a user sets and expects back.
    {"OnTop", &WindowOptions::onTop, false},
    {"MinToTray", &WindowOptions::minimizeToTray, false},
    {"PlotterListenOnly", &WindowOptions::plotterListenOnly, false},
};

}  // namespace

WindowSettings readWindowSettings(SettingsStore& store, WindowSettings current) {
    auto read = [&](const char* key, const QString& fallback) {
        return store.read(kApplication, kSection, QLatin1String(key), fallback);
    };
    // A text that is neither a truth value nor a number was not written by us: the default.
    auto readMark = [&](const char* key, bool fallback) {
        return decodeBool(read(key, encodeBool(fallback))).value_or(fallback);
    };
    auto readTwips = [&](const char* key, double fallback) {
        return decodeNumber(read(key, encodeNumber(fallback)));
    };
    WindowSettings s = std::move(current);
    WindowOptions& o = s.options;
    s.placement.left = readTwips("Left", s.placement.left);
    s.placement.width = readTwips("Width", s.placement.width);
    s.placement.top = readTwips("Top", s.placement.top);
    s.placement.height = readTwips("Height", s.placement.height);
    o.address = decodeInteger(trimBlanks(read("Address", QStringLiteral("20"))));
    o.color = readMark("Color", true);
    o.suppressConfig = readMark("SupressConfigRMX", false);
    s.dataPath = read("DataPath", s.dataPath);
    s.dataPathNotUtf8 = store.readAsLatin1(kApplication, kSection, QStringLiteral("DataPath"));
    s.printerAddress = decodeInteger(read("GPIBPrinterAdr", QStringLiteral("5")));
    for (const auto& mark : kStoredMarks)
        o.*mark.field = readMark(mark.key, mark.fallback);
    o.plotter7475 = read("PlotterModel", QStringLiteral("7470A")) == QStringLiteral("7475A");
    o.hardcopyFormat = read("HardcopyFormat", QStringLiteral("WMF")) == QStringLiteral("BMP")
                           ? WindowOptions::HardcopyFormat::Bmp
                           : WindowOptions::HardcopyFormat::Wmf;
    return s;
}

void writeWindowSettings(SettingsStore& store, const WindowSettings& settings) {
    auto put = [&](const char* key, const QString& value) {
        store.write(kApplication, kSection, QLatin1String(key), value);
    };
    const WindowOptions& options = settings.options;
    put("Left", encodeNumber(settings.placement.left));
    put("Width", encodeNumber(settings.placement.width));
    put("Top", encodeNumber(settings.placement.top));
    put("Height", encodeNumber(settings.placement.height));
    put("Address", encodeNumber(options.address));
    put("Color", encodeBool(options.color));
    put("SupressConfigRMX", encodeBool(options.suppressConfig));
    put("DataPath", settings.dataPath);
    put("GPIBPrinterAdr", encodeNumber(settings.printerAddress));
    for (const auto& mark : kStoredMarks)
        put(mark.key, encodeBool(options.*mark.field));
    put("PlotterModel", options.plotter7475 ? QStringLiteral("7475A") : QStringLiteral("7470A"));
    put("HardcopyFormat", options.hardcopyFormat == WindowOptions::HardcopyFormat::Bmp
                              ? QStringLiteral("BMP")
                              : QStringLiteral("WMF"));
}

DefaultDataPath defaultDataPath(const QString& programFolder, const QString& pictures,
                                const QString& documents,
                                std::optional<bool> programFolderWritable) {
    if (programFolderWritable.value_or(QFileInfo(programFolder).isWritable()))
        return {QDir::toNativeSeparators(programFolder), {}};
    const QString earlier = QDir(documents).filePath(QStringLiteral("Benchcap"));
    const QString folder =
        !documents.isEmpty() && QFileInfo(earlier).isDir()
            ? earlier
            : QDir(pictures.isEmpty() ? documents : pictures).filePath(QStringLiteral("benchcap"));
    return {QDir::toNativeSeparators(folder),
            QStringLiteral("the program's folder %1 cannot be written")
                .arg(QDir::toNativeSeparators(programFolder))};
}

}  // namespace benchcap::app
