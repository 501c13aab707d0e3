#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/result.h"

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace benchcap {

// A program's or a command's options and arguments, declared as a table and parsed by
// CLI11, so that both programs spell, refuse and explain their options the same way. Only
// the spelling is checked here; the callers check the values, in their own words.
class OptionParser {
  public:
    // `name` heads CLI11's help text ("benchcap-cli idn").
    explicit OptionParser(const std::string& name);
    ~OptionParser();
    OptionParser(const OptionParser&) = delete;
    OptionParser& operator=(const OptionParser&) = delete;

    // A flag takes no value ("--json=0" is refused); given twice it is the flag.
    OptionParser& flag(const char* names, bool& target, const char* help);
    // `missing` completes "<option> needs ..." when the value is left out; "--name=" is an
    // empty value. Given twice, the option is refused.
    OptionParser& value(const char* names, std::optional<std::string>& target,
                        const char* valueName, const char* help, const char* missing = "a value");
    // A value option that may be given again and again ("--trace 1:5 --trace 2:60"): every
    // value, in the order given.
    OptionParser& values(const char* names, std::vector<std::string>& target, const char* valueName,
                         const char* help, const char* missing = "a value");
    // A required argument in order of appearance.
    OptionParser& argument(const char* name, std::string& target, const char* help);
    // Parsing stops at the first word that is no option: it and all after it land here.
    OptionParser& rest(std::vector<std::string>& target);
    // The words that are no option, wherever they stand, in their order; "--" ends the
    // options and stays among them. Without this or rest(), such a word is refused.
    OptionParser& others(std::vector<std::string>& target);
    OptionParser& footer(const std::string& text);
    // "-h" and "--help" are the caller's own flag, not CLI11's help.
    OptionParser& ownHelp();

    enum class Asked { Options, Help };
    // Fails with what is wrong with the words; the reason is empty when a required argument
    // is missing (the usage line tells it).
    Result<Asked> parse(const std::vector<std::string>& args);

    std::string help() const;

  private:
    std::unique_ptr<CLI::App> app_;
    std::vector<std::pair<std::string, std::string>> missing_;
    std::vector<const CLI::Option*> values_;
    std::vector<std::string>* rest_ = nullptr;
};

}  // namespace benchcap
