#include <gtest/gtest.h>

#include "app/startup/command_line.h"
#include "support/table_file.h"

namespace benchcap::app {
namespace {

// An action as tests/data/app/command-line.tsv writes it: "Address 20", "Name=x", "End".
std::string describe(const CommandAction& a) {
    static const char* const kinds[] = {"Hide", "Show", "Address", "BadAddress", "Color", "BW",
                                        "Name", "Plot", "Screen",  "Trace",      "End"};
    using K = CommandAction::Kind;
    std::string text = kinds[static_cast<int>(a.kind)];
    if (a.kind == K::Address || a.kind == K::Trace)
        text += " " + std::to_string(a.number);
    if (a.kind == K::Name || a.kind == K::BadAddress)
        text += "=" + a.text.toStdString();
    return text;
}

std::string describe(const std::vector<CommandAction>& actions) {
    std::string text;
    for (const CommandAction& a : actions)
        text += (text.empty() ? "" : " ; ") + describe(a);
    return text;
}

TEST(CommandLine, SplitAndParsedAsRecorded) {
    for (const auto& row : test::readTable("app/command-line.tsv")) {
        const QString given = QString::fromStdString(row[1]);
        if (row[0] == "split")
            EXPECT_EQ(splitCommandLine(given).join(u'|').toStdString(), row[2]) << row[1];
        else if (row[0] == "action")
            EXPECT_EQ(describe(actionsFor(given)), row[2]) << row[1];
        else
            EXPECT_EQ(describe(parseCommandLine(given)), row[2]) << row[1];
    }
}

}  // namespace
}  // namespace benchcap::app
