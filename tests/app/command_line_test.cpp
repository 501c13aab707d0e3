#include <gtest/gtest.h>

#include "app/startup/command_line.h"

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

}  // namespace
}  // namespace benchcap::app
