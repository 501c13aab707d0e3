#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "base/option_parser.h"

namespace benchcap::cli {

// A benchcap-cli command's options and arguments (OptionParser), refused in the command's
// words with its usage line, and its `--help`.
class CommandOptions : public OptionParser {
  public:
    // `command`: the command's name ("" for the program itself); `usage`: its usage line.
    CommandOptions(std::string command, std::string usage);
    // A command of cliCommands(), with its usage line from there.
    explicit CommandOptions(const std::string& command);

    // nullopt: go on. Otherwise the exit code to end with, after printing the help (0) or
    // what is wrong with the arguments and the usage line (kExitUsage).
    std::optional<int> parse(std::ostream& out, std::ostream& err,
                             const std::vector<std::string>& args);

  private:
    std::string command_;
    std::string usage_;
};

}  // namespace benchcap::cli
