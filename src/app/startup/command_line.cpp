#include "app/startup/command_line.h"

#include <QRegularExpression>

#include "app/output/output_files.h"
#include "app/startup/settings_store.h"
#include "app/ui/qt_text.h"

namespace benchcap::app {
namespace {

bool hasKeyword(const QString& argument, const char* keyword) {
    return argument.startsWith(QLatin1String(keyword), Qt::CaseInsensitive);
}

// An address argument is a number and nothing else: "12abc" is not taken for 12.
bool isWholeNumber(const QString& argument) {
    static const QRegularExpression number(
        QStringLiteral(R"(^[+-]?(\d+\.?\d*|\.\d+)([EeDd][+-]?\d+)?$)"));
    return number.match(argument).hasMatch();
}

// An argument that starts as a number was meant as an address, whatever follows.
bool looksLikeNumber(const QString& argument) {
    static const QRegularExpression start(QStringLiteral(R"(^[+-]?\.?\d)"));
    return start.match(argument).hasMatch();
}

CommandAction act(CommandAction::Kind kind, int number = 0, QString text = {}) {
    return CommandAction{kind, number, std::move(text)};
}

}  // namespace

QStringList splitCommandLine(const QString& text) {
    QStringList arguments;
    QString s = text;
    for (;;) {
        const qsizetype p1 = s.indexOf(QLatin1Char('/'));
        const qsizetype p2 = p1 < 0 ? -1 : s.indexOf(QLatin1Char('/'), p1 + 1);
        if (p2 >= 0) {
            arguments << trimBlanks(s.mid(p1 + 1, p2 - p1 - 1));
            // Go on from the second slash, so "//" makes progress as well.
            s = s.mid(p2);
        } else {
            arguments << trimBlanks(s.mid(p1 + 1));
            s.clear();
        }
        if (trimBlanks(s).isEmpty())
            break;
    }
    return arguments;
}

std::vector<CommandAction> actionsFor(const QString& argument) {
    using K = CommandAction::Kind;
    std::vector<CommandAction> actions;
    if (hasKeyword(argument, "HIDE"))
        actions.push_back(act(K::Hide));
    if (hasKeyword(argument, "SHOW"))
        actions.push_back(act(K::Show));
    if (looksLikeNumber(argument)) {
        const int address = decodeInteger(argument);
        if (isWholeNumber(argument) && decodeNumber(argument) > 0 && address >= 1 && address <= 30)
            actions.push_back(act(K::Address, address));
        else
            actions.push_back(act(K::BadAddress, 0, argument));
    }
    if (hasKeyword(argument, "COLOR"))
        actions.push_back(act(K::Color));
    if (hasKeyword(argument, "BW"))
        actions.push_back(act(K::BW));
    if (hasKeyword(argument, "NAME="))
        actions.push_back(act(K::Name, 0, trimBlanks(argument.mid(5))));
    if (hasKeyword(argument, "PLOT"))
        actions.push_back(act(K::Plot));
    if (hasKeyword(argument, "SCREEN"))
        actions.push_back(act(K::Screen));
    if (hasKeyword(argument, "TRACE"))
        // Only the one character after TRACE counts: TRACE12 is trace 1.
        actions.push_back(act(K::Trace, decodeInteger(argument.mid(5, 1))));
    if (hasKeyword(argument, "END"))
        actions.push_back(act(K::End));
    return actions;
}

std::vector<CommandAction> parseCommandLine(const QString& text) {
    std::vector<CommandAction> all;
    for (const QString& argument : splitCommandLine(text))
        for (CommandAction& a : actionsFor(argument))
            all.push_back(std::move(a));
    return all;
}

}  // namespace benchcap::app
