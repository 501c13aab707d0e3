#pragma once

#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace benchcap::cli {

// A command's options and arguments, declared as a table and parsed by CLI11, so that every
// command spells, refuses and explains (`--help`) its options the same way. Only the
// spelling is checked here; the commands check the values themselves, in their own words.
class CommandOptions {
  public:
    // `command`: the command's name ("" for the program itself); `usage`: its usage line.
    CommandOptions(std::string command, std::string usage);
    // A command of cliCommands(), with its usage line from there.
    explicit CommandOptions(const std::string& command);
    ~CommandOptions();
    CommandOptions(const CommandOptions&) = delete;
    CommandOptions& operator=(const CommandOptions&) = delete;

    CommandOptions& flag(const char* names, bool& target, const char* help);
    // `missing` completes "<option> needs ..." when the value is left out. Given twice, the
    // option is refused.
    CommandOptions& value(const char* names, std::optional<std::string>& target,
                          const char* valueName, const char* help, const char* missing = "a value");
    // A required argument in order of appearance.
    CommandOptions& argument(const char* name, std::string& target, const char* help);
    // Parsing stops at the first argument that is no option: it and all after it land here.
    CommandOptions& rest(std::vector<std::string>& target);
    CommandOptions& footer(const std::string& text);

    // nullopt: go on. Otherwise the exit code to end with, after printing the help (0) or
    // what is wrong with the arguments and the usage line (kExitUsage).
    std::optional<int> parse(std::ostream& out, std::ostream& err,
                             const std::vector<std::string>& args);

    std::string help() const;

  private:
    std::string command_;
    std::string usage_;
    std::unique_ptr<CLI::App> app_;
    std::vector<std::pair<std::string, std::string>> missing_;
    std::vector<const CLI::Option*> values_;
    std::vector<std::string>* rest_ = nullptr;
};

}  // namespace benchcap::cli
