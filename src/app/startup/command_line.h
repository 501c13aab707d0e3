#pragma once

#include <QString>
#include <QStringList>

#include <vector>

namespace benchcap::app {

// The "/" command line: /HIDE /SHOW /<address> /COLOR /BW /NAME=<name> /PLOT /SCREEN
// /TRACE<n> /END.

// The arguments in order: the text between slashes with surrounding blanks removed; text
// before the first slash is ignored, a text without any slash is one argument.
QStringList splitCommandLine(const QString& text);

struct CommandAction {
    // BadAddress: a number that is no bus address 1 to 30 ("31", "0", "12abc"); Plot: /PLOT.
    enum class Kind { Hide, Show, Address, BadAddress, Color, BW, Name, Plot, Screen, Trace, End };
    Kind kind;
    int number = 0;  // Address: the bus address; Trace: the trace number
    QString text;    // Name: the manual name; BadAddress: the argument

    bool operator==(const CommandAction&) const = default;
};

// What one argument asks for, in the order the keywords are tested. One argument can
// match several rules; one that matches none asks for nothing. Keywords are prefixes
// compared without regard to case ("hidex" hides).
std::vector<CommandAction> actionsFor(const QString& argument);

// All actions of a command line, left to right.
std::vector<CommandAction> parseCommandLine(const QString& text);

}  // namespace benchcap::app
