#include <gtest/gtest.h>

#include "app/app_options.h"
#include "app/command_line.h"

namespace benchcap::app {
namespace {

using K = CommandAction::Kind;

CommandAction act(K kind, int number = 0, const char* text = "") {
    return CommandAction{kind, number, QString::fromLatin1(text)};
}

TEST(CommandLine, SplitsAtSlashesIgnoringTextBeforeTheFirst) {
    const struct {
        const char* line;
        QStringList arguments;
    } cases[] = {
        {"SCREEN", {"SCREEN"}},
        {"x/SHOW", {"SHOW"}},
        {"/HIDE /12 /BW /NAME=scope1 /SCREEN /END",
         {"HIDE", "12", "BW", "NAME=scope1", "SCREEN", "END"}},
        {"/ 20 /", {"20", ""}},
        {"/NAME=  my scope  /END", {"NAME=  my scope", "END"}},
        // Two slashes in a row make an empty argument and the split goes on.
        {"//SCREEN", {"", "SCREEN"}},
        {"/A//B", {"A", "", "B"}},
        {"", {""}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(splitCommandLine(QString::fromLatin1(c.line)), c.arguments) << c.line;
}

TEST(CommandLine, RulesOfOneArgument) {
    const struct {
        const char* argument;
        std::vector<CommandAction> actions;
    } cases[] = {
        {"HIDE", {act(K::Hide)}},
        {"hidex", {act(K::Hide)}},
        {"Show", {act(K::Show)}},
        {"20", {act(K::Address, 20)}},
        {"20.4", {act(K::Address, 20)}},
        {"20.5", {act(K::Address, 20)}},  // ties go to the even address
        {"21.5", {act(K::Address, 22)}},
        {"0.6", {act(K::Address, 1)}},
        // Numbers that are no address are reported, never passed over.
        {"0", {act(K::BadAddress, 0, "0")}},
        {"0.4", {act(K::BadAddress, 0, "0.4")}},
        {"31", {act(K::BadAddress, 0, "31")}},
        {"-3", {act(K::BadAddress, 0, "-3")}},
        {"99999999999", {act(K::BadAddress, 0, "99999999999")}},
        {"12abc", {act(K::BadAddress, 0, "12abc")}},
        {"plot", {act(K::Plot)}},
        {"COLOR", {act(K::Color)}},
        {"bw", {act(K::BW)}},
        {"name=x", {act(K::Name, 0, "x")}},
        {"NAME=  my scope  ", {act(K::Name, 0, "my scope")}},
        {"NAME=", {act(K::Name, 0, "")}},
        {"SCREEN", {act(K::Screen)}},
        {"TRACE2", {act(K::Trace, 2)}},
        {"TRACE", {act(K::Trace, 0)}},
        {"TRACEX", {act(K::Trace, 0)}},
        {"TRACE12", {act(K::Trace, 1)}},  // one character is looked at
        {"end", {act(K::End)}},
        {"bogus", {}},
        {"", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(actionsFor(QString::fromLatin1(c.argument)), c.actions) << c.argument;
}

TEST(CommandLine, WholeLineLeftToRight) {
    EXPECT_EQ(parseCommandLine(QStringLiteral("/HIDE/12/BW/NAME=scope1/SCREEN/END")),
              (std::vector<CommandAction>{act(K::Hide), act(K::Address, 12), act(K::BW),
                                          act(K::Name, 0, "scope1"), act(K::Screen), act(K::End)}));
}

TEST(AppOptions, LeadingOptionsAndTheCommandLine) {
    auto parse = [](QStringList args) {
        args.prepend(QStringLiteral("benchcap"));
        return parseAppOptions(args);
    };
    AppOptions o = parse({"--data-path", "/tmp/d", "/HIDE", "/12"});
    EXPECT_TRUE(o.error.isEmpty());
    EXPECT_EQ(o.dataPath, QStringLiteral("/tmp/d"));
    EXPECT_EQ(o.commandLine, QStringLiteral("/HIDE /12"));

    o = parse({"--data-path=/x", "--version"});
    EXPECT_EQ(o.dataPath, QStringLiteral("/x"));
    EXPECT_TRUE(o.version);
    EXPECT_TRUE(parse({"--help"}).help);
    EXPECT_TRUE(parse({"--system-info"}).systemInfo);
    // After "--" everything is the command line.
    EXPECT_EQ(parse({"--", "--version", "/END"}).commandLine, QStringLiteral("--version /END"));

    // --help names every interface and keyword, and what happens without a display.
    for (const char* told : {"prologix:HOST[:PORT]", "prologix:/dev/ttyUSB0", "/PLOT", "offscreen"})
        EXPECT_TRUE(usageText().contains(QLatin1String(told))) << told;

    for (const QStringList& bad :
         {QStringList{"--bogus"}, QStringList{"--data-path"}, QStringList{"--data-path="}})
        EXPECT_FALSE(parse(bad).error.isEmpty()) << bad.join(' ').toStdString();
}

}  // namespace
}  // namespace benchcap::app
