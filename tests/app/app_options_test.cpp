#include <gtest/gtest.h>

#include "app/startup/app_options.h"
#include "support/table_file.h"

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
    for (const auto& row : test::readTable("app/app-options.tsv"))
        EXPECT_EQ(parsed(QString::fromStdString(row[0]).split(u' ')), row[1]) << row[0];
    // --help names every interface and keyword, and what happens without a display.
    for (const char* told : {"prologix:HOST[:PORT]", "prologix:/dev/ttyUSB0", "/PLOT", "offscreen"})
        EXPECT_TRUE(usageText().contains(QLatin1String(told))) << told;
}

}  // namespace
}  // namespace benchcap::app
