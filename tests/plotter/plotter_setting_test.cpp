#include <gtest/gtest.h>

#include "app/startup/settings_store.h"
#include "app/window/window_options.h"

namespace benchcap::test {
namespace {

// The window's plotter model is stored under PlotterModel; anything but 7475A is a 7470A.
TEST(PlotterSetting, StoredAsTheModelName) {
    for (const auto& [stored, is7475] :
         {std::pair{"7475A", true}, {"7470A", false}, {"x", false}}) {
        app::MemorySettingsStore store;
        store.set(QStringLiteral("PlotterModel"), QLatin1String(stored));
        const app::WindowOptions options = app::readWindowOptions(store, {});
        EXPECT_EQ(options.plotter7475, is7475) << stored;
        app::writeWindowOptions(store, options);
        EXPECT_EQ(store.get(QStringLiteral("PlotterModel")),
                  QLatin1String(is7475 ? "7475A" : "7470A"));
    }
}

}  // namespace
}  // namespace benchcap::test
