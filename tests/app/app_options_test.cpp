#include <gtest/gtest.h>

#include "app/app_options.h"

namespace benchcap::app {
namespace {

Result<AppOptions> parse(QStringList args) {
    args.prepend(QStringLiteral("benchcap"));
    return parseAppOptions(args);
}

TEST(AppOptions, OptionsAnywhereAndTheCommandLine) {
    const struct {
        QStringList args;
        QString interface;
        QString dataPath;  // "-": none given
        QString screenshot;
        QString commandLine;
        bool scan, help, version, systemInfo;
    } cases[] = {
        {{"--interface", "sim:bench.yaml", "/HIDE", "/12", "--screenshot=x.png", "--scan"},
         "sim:bench.yaml",
         "-",
         "x.png",
         "/HIDE /12",
         true,
         false,
         false,
         false},
        {{"--interface=library"}, "library", "-", "", "", false, false, false, false},
        {{"--interface=", "/HIDE"}, "", "-", "", "/HIDE", false, false, false, false},
        {{"--data-path", "/tmp/d", "/HIDE", "/12"},
         "",
         "/tmp/d",
         "",
         "/HIDE /12",
         false,
         false,
         false,
         false},
        {{"--data-path=/x", "--version"}, "", "/x", "", "", false, false, true, false},
        {{"--help"}, "", "-", "", "", false, true, false, false},
        {{"--system-info"}, "", "-", "", "", false, false, false, true},
        // After "--" everything is the command line; after a keyword, an unknown "--" word.
        {{"--", "--version", "/END"}, "", "-", "", "--version /END", false, false, false, false},
        {{"/HIDE", "--bogus", "/END"},
         "",
         "-",
         "",
         "/HIDE --bogus /END",
         false,
         false,
         false,
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const Result<AppOptions> o = parse(c.args);
        ASSERT_TRUE(o.ok()) << o.error();
        EXPECT_EQ(o->interfaceChoice, c.interface);
        EXPECT_EQ(o->dataPath.value_or(QStringLiteral("-")), c.dataPath);
        EXPECT_EQ(o->screenshotFile, c.screenshot);
        EXPECT_EQ(o->commandLine, c.commandLine);
        EXPECT_EQ(o->scan, c.scan);
        EXPECT_EQ(o->help, c.help);
        EXPECT_EQ(o->version, c.version);
        EXPECT_EQ(o->systemInfo, c.systemInfo);
    }
    // --help names every interface and keyword, and what happens without a display.
    for (const char* told : {"prologix:HOST[:PORT]", "prologix:/dev/ttyUSB0", "/PLOT", "offscreen"})
        EXPECT_TRUE(usageText().contains(QLatin1String(told))) << told;
}

TEST(AppOptions, MalformedOptionsAreRefused) {
    const struct {
        QStringList args;
        const char* error;
    } cases[] = {
        {{"--interface"}, "--interface needs a value"},
        {{"--bogus", "/END"}, "unknown option --bogus (see --help)"},
        {{"--data-path"}, "--data-path needs a value"},
        {{"--data-path="}, "--data-path needs a folder"},
        {{"--scan=0"}, "--scan takes no value"},
    };
    for (const auto& c : cases) {
        const Result<AppOptions> o = parse(c.args);
        ASSERT_FALSE(o.ok()) << c.error;
        EXPECT_EQ(o.error(), c.error);
    }
}

}  // namespace
}  // namespace benchcap::app
