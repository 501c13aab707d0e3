#include <ostream>

#include "bus/number.h"
#include "cli/cli.h"
#include "scanner/board_config.h"

namespace benchcap::cli {
namespace {

constexpr const char* kUsage =
    "usage: benchcap-cli [--interface X] board-config save|load FILE MASTERKEY [--board N]\n";

}  // namespace

// Keeps a board's configuration in a profile file (save) or sets it from one (load).
int cmdBoardConfig(CliContext& context, const std::vector<std::string>& args) {
    std::vector<std::string> positional;
    int boardIndex = 0;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--board") {
            const std::string value = i + 1 < args.size() ? args[++i] : std::string();
            if (value.size() != 1 || value[0] < '0' || value[0] > '9') {
                context.err << "benchcap-cli board-config: --board takes a board index 0..9, not '"
                            << value << "'\n";
                return kExitUsage;
            }
            boardIndex = value[0] - '0';
        } else {
            positional.push_back(args[i]);
        }
    }
    if (positional.size() != 3 || (positional[0] != "save" && positional[0] != "load") ||
        positional[1].empty() || positional[2].empty()) {
        context.err << kUsage;
        return kExitUsage;
    }
    const bool save = positional[0] == "save";
    const std::string& file = positional[1];
    const std::string& masterKey = positional[2];

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
