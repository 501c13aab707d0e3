#pragma once

#include <QFontDatabase>

namespace benchcap::test {

// True when the font database offers at least one family, so that text can be drawn
// (the program needs a QGuiApplication: benchcap_gui_test_main).
inline bool haveFonts() {
    return !QFontDatabase::families().isEmpty();
}

}  // namespace benchcap::test
