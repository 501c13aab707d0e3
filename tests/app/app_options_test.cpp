#include <gtest/gtest.h>

#include "app/app_options.h"

namespace benchcap::app {
namespace {

TEST(AppOptions, InterfaceScreenshotAndKeywords) {
    AppOptions o = parseAppOptions({QStringLiteral("benchcap"), QStringLiteral("--interface"),
                                    QStringLiteral("sim:bench.yaml"), QStringLiteral("/HIDE"),
                                    QStringLiteral("/12"), QStringLiteral("--screenshot=x.png"),
                                    QStringLiteral("--scan")});
    EXPECT_TRUE(o.error.isEmpty());
    EXPECT_EQ(o.interfaceChoice, QStringLiteral("sim:bench.yaml"));
    EXPECT_EQ(o.screenshotFile, QStringLiteral("x.png"));
    EXPECT_EQ(o.commandLine, QStringLiteral("/HIDE /12"));
    EXPECT_TRUE(o.scan);
    o = parseAppOptions({QStringLiteral("benchcap"), QStringLiteral("--interface=library")});
    EXPECT_EQ(o.interfaceChoice, QStringLiteral("library"));
    o = parseAppOptions({QStringLiteral("benchcap"), QStringLiteral("--interface")});
    EXPECT_FALSE(o.error.isEmpty());
}

}  // namespace
}  // namespace benchcap::app
