// Arbitrary bytes as the settings file: reading never fails, a value written is read back
// as written, and a value written back unchanged leaves every byte as it was.
#include <cstddef>
#include <cstdint>

#include "app/startup/settings_store.h"

using namespace benchcap::app;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray text(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString section = QStringLiteral("Settings");
    const QString key = QStringLiteral("DataPath");
    const std::optional<QByteArray> stored = iniValue(text, section, key);
    if (stored) {
        // Only one line of the key: duplicates are removed on writing, by design.
        const QByteArray once = iniWithValue(text, section, key, decodeSettingBytes(*stored));
        if (iniValue(once, section, key) != stored)
            __builtin_trap();
    }
    // The value is built from the input, so escapes, quotes and both encodings come by.
    const QString value = decodeSettingBytes(text.left(40)).remove(QLatin1Char('\n'));
    const QByteArray written = iniWithValue(text, section, key, value);
    const std::optional<QByteArray> back = iniValue(written, section, key);
    if (!back || decodeSettingBytes(*back) != value)
        __builtin_trap();
    return 0;
}
