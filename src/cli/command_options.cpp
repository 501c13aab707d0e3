#include "cli/command_options.h"

#include <ostream>

#include "cli/cli.h"

namespace benchcap::cli {

CommandOptions::CommandOptions(std::string command, std::string usage)
    : OptionParser(command.empty() ? "benchcap-cli" : "benchcap-cli " + command),
      command_(std::move(command)),
      usage_(std::move(usage)) {}

namespace {

std::string usageOf(const std::string& command) {
    for (const CliCommand& c : cliCommands()) {
        if (c.name == command)
            return c.usage;
    }
    return command;
}

}  // namespace

CommandOptions::CommandOptions(const std::string& command)
    : CommandOptions(command, usageOf(command)) {}

std::optional<int> CommandOptions::parse(std::ostream& out, std::ostream& err,
                                         const std::vector<std::string>& args) {
    const Result<Asked> asked = OptionParser::parse(args);
    if (asked && *asked == Asked::Help) {
        out << help();
        return kExitDone;
    }
    if (asked)
        return std::nullopt;
    if (!asked.error().empty()) {
        err << (command_.empty() ? "benchcap-cli: " : "benchcap-cli " + command_ + ": ")
            << asked.error() << '\n';
    }
    err << "usage: benchcap-cli " << usage_ << '\n';
    return kExitUsage;
}

}  // namespace benchcap::cli
