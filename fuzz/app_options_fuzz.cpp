// The program's arguments: bytes split at NUL into arguments, Latin-1 as the window takes them,
// and the keyword line they leave.
#include <cstddef>
#include <cstdint>

#include "app/startup/app_options.h"
#include "app/startup/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    QStringList args{QStringLiteral("benchcap")};
    QByteArray current;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            args << QString::fromLatin1(current);
            current.clear();
        } else {
            current.append(static_cast<char>(data[i]));
        }
    }
    args << QString::fromLatin1(current);
    const benchcap::Result<benchcap::app::AppOptions> parsed = benchcap::app::parseAppOptions(args);
    if (!parsed)
        return 0;
    const benchcap::app::AppOptions& o = *parsed;
    // Every argument ends up somewhere: an option, its value or the keyword line.
    if (o.commandLine.size() > static_cast<qsizetype>(size) + args.size())
        __builtin_trap();
    // The keywords: an address action is always one of the bus, whatever the number said.
    for (const benchcap::app::CommandAction& a : benchcap::app::parseCommandLine(o.commandLine))
        if (a.kind == benchcap::app::CommandAction::Kind::Address &&
            (a.number < 1 || a.number > 30))
            __builtin_trap();
    return 0;
}
