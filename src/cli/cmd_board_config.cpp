#include <ostream>

#include "bus/number.h"
#include "cli/cli.h"
#include "cli/command_options.h"
#include "scanner/board_config.h"

namespace benchcap::cli {
namespace {

constexpr const char* kUsage =
    "usage: benchcap-cli [--interface X] board-config save|load FILE MASTERKEY [--board N]\n";

}  // namespace

// Keeps a board's configuration in a profile file (save) or sets it from one (load).
int cmdBoardConfig(CliContext& context, const std::vector<std::string>& args) {
    std::string action;
    std::string file;
    std::string masterKey;
    std::optional<std::string> boardText;
    CommandOptions options("board-config");
    options.argument("ACTION", action, "save (board to FILE) or load (FILE to board)")
        .argument("FILE", file, "the profile file")
        .argument("MASTERKEY", masterKey, "the name of the board's sections in the file")
        .value("--board", boardText, "N", "the board GPIB0..GPIB9 (0 unless given)");
    if (const std::optional<int> done = options.parse(context.out, context.err, args))
        return *done;
    int boardIndex = 0;
    if (boardText) {
        const std::optional<int> n = parseBoundedInt(*boardText, 0, 9);
        if (!n || boardText->size() != 1) {
            context.err << "benchcap-cli board-config: --board takes a board index 0..9, not '"
                        << *boardText << "'\n";
            return kExitUsage;
        }
        boardIndex = *n;
    }
    if ((action != "save" && action != "load") || file.empty() || masterKey.empty()) {
        context.err << kUsage;
        return kExitUsage;
    }
    const bool save = action == "save";

    bus::GpibDriver* driver = context.driver();
    if (!driver)
        return kExitUsage;
    const std::string name = "GPIB" + std::to_string(boardIndex);
    const int board = driver->ibfind(name);
    if (board < 0) {
        context.err << "benchcap-cli board-config: no board " << name
                    << " on this interface; choose one with --board N ("
                    << bus::boardFailureText(boardIndex, "ibfind", driver->status()) << ")\n";
        return kExitNoAnswer;
    }
    const Status result =
        save ? scanner::SaveBoardStatus(*driver, file, masterKey, static_cast<int16_t>(board))
             : scanner::LoadBoardStatus(*driver, file, masterKey, static_cast<int16_t>(board));
    if (!result.ok()) {
        context.err << "benchcap-cli board-config: " << result.error() << '\n';
        return kExitNoAnswer;
    }
    // What the board holds now, as the driver reports it.
    context.out << (save ? "saved " : "loaded ") << name << (save ? " to " : " from ") << file
                << " under " << masterKey << "_*\n";
    for (const scanner::BoardOption& option : scanner::BoardOptions()) {
        if (!save && !option.loadedBack)
            continue;
        int value = 0;
        driver->ibask(board, option.option, &value);
        context.out << masterKey << option.sectionSuffix << '\t' << option.key << '\t'
                    << bus::LongToInt16(value) << '\n';
    }
    return kExitDone;
}

}  // namespace benchcap::cli
