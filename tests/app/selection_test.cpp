#include <gtest/gtest.h>

#include "app/app_options.h"
#include "app/selection_codes.h"

namespace benchcap::app {
namespace {

TEST(SelectionRules, CodeTable) {
    // Codes that make a scan count as "instruments found".
    for (int code : {11, 12, 13, 14, 15, 16, 21, 71, 76})
        EXPECT_TRUE(selectionRule(code).countsAsFound) << code;
    for (int code : {0, 17, 22, 23, 31, 32, 33, 41, 61, 99})
        EXPECT_FALSE(selectionRule(code).countsAsFound) << code;
    // Refused indicator clicks; a GJX counts as found and is still refused.
    for (int code : {22, 23, 31, 32, 61, 76})
        EXPECT_TRUE(selectionRule(code).refused) << code;
    for (int code : {0, 11, 12, 13, 14, 15, 16, 17, 21, 33, 41, 71, 99})
        EXPECT_FALSE(selectionRule(code).refused) << code;
    // Trace menus.
    for (int code : {11, 12, 14, 71})
        EXPECT_EQ(selectionRule(code).menus, TraceMenus::TraceOnTrace4On) << code;
    for (int code : {13, 15, 16})
        EXPECT_EQ(selectionRule(code).menus, TraceMenus::TraceOnTrace4Off) << code;
    for (int code : {21, 22, 23, 31, 32, 41, 61, 76})
        EXPECT_EQ(selectionRule(code).menus, TraceMenus::TraceOff) << code;
    for (int code : {0, 17, 33, 99, -1, 1000})
        EXPECT_EQ(selectionRule(code).menus, TraceMenus::Keep) << code;
}

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
