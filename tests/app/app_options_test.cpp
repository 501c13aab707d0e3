#include <gtest/gtest.h>

#include "app/startup/app_options.h"

namespace benchcap::app {
namespace {

// The options as one line of what was given: "interface=... data-path=... screenshot=...
// scan help version system-info | command line".
std::string parsed(QStringList args) {
    args.prepend(QStringLiteral("benchcap"));
    const Result<AppOptions> r = parseAppOptions(args);
    if (!r)
        return "error: " + r.error();
    QStringList given;
    if (!r->interfaceChoice.isEmpty())
        given << QStringLiteral("interface=") + r->interfaceChoice;
    if (r->dataPath)
        given << QStringLiteral("data-path=") + *r->dataPath;
    if (!r->screenshotFile.isEmpty())
        given << QStringLiteral("screenshot=") + r->screenshotFile;
    const std::pair<bool, const char*> flags[] = {{r->scan, "scan"},
                                                  {r->help, "help"},
                                                  {r->version, "version"},
                                                  {r->systemInfo, "system-info"}};
    for (const auto& [set, name] : flags) {
        if (set)
            given << QLatin1String(name);
    }
    return (given.join(QLatin1Char(' ')) + QStringLiteral(" | ") + r->commandLine).toStdString();
}

TEST(AppOptions, OptionsAnywhereTheCommandLineAndMalformedOptions) {
    const struct {
        QStringList args;
        const char* expected;
    } cases[] = {
        {{"--interface", "sim:bench.yaml", "/HIDE", "/12", "--screenshot=x.png", "--scan"},
         "interface=sim:bench.yaml screenshot=x.png scan | /HIDE /12"},
        {{"--interface=library"}, "interface=library | "},
        {{"--interface=", "/HIDE"}, " | /HIDE"},
        {{"--data-path", "/tmp/d", "/HIDE", "/12"}, "data-path=/tmp/d | /HIDE /12"},
        {{"--data-path=/x", "--version"}, "data-path=/x version | "},
        {{"--help"}, "help | "},
        {{"--system-info"}, "system-info | "},
        // After "--" everything is the command line; after a keyword, an unknown "--" word.
        {{"--", "--version", "/END"}, " | --version /END"},
        {{"/HIDE", "--bogus", "/END"}, " | /HIDE --bogus /END"},
        {{"--interface"}, "error: --interface needs a value"},
        {{"--bogus", "/END"}, "error: unknown option --bogus (see --help)"},
        {{"--data-path"}, "error: --data-path needs a value"},
        {{"--data-path="}, "error: --data-path needs a folder"},
        {{"--scan=0"}, "error: --scan takes no value"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parsed(c.args), c.expected) << c.args.join(' ').toStdString();
    // --help names every interface and keyword, and what happens without a display.
    for (const char* told : {"prologix:HOST[:PORT]", "prologix:/dev/ttyUSB0", "/PLOT", "offscreen"})
        EXPECT_TRUE(usageText().contains(QLatin1String(told))) << told;
}

}  // namespace
}  // namespace benchcap::app
