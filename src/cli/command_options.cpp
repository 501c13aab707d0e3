#include "cli/command_options.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <ostream>

#include "cli/cli.h"

namespace benchcap::cli {

CommandOptions::CommandOptions(std::string command, std::string usage)
    : command_(std::move(command)),
      usage_(std::move(usage)),
      app_(std::make_unique<CLI::App>(
          "", command_.empty() ? "benchcap-cli" : "benchcap-cli " + command_)) {
    // Unknown words are reported in the command's own words, not CLI11's.
    app_->allow_extras();
    // A value option given twice is refused after parsing (which of two files was meant?);
    // a flag given twice is the flag.
    app_->option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
}

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

CommandOptions::~CommandOptions() = default;

CommandOptions& CommandOptions::flag(const char* names, bool& target, const char* help) {
    // "--json=0" is no way to say "no JSON": a flag takes no value.
    app_->add_flag(names, target, help)->disable_flag_override();
    return *this;
}

CommandOptions& CommandOptions::value(const char* names, std::optional<std::string>& target,
                                      const char* valueName, const char* help,
                                      const char* missing) {
    CLI::Option* option = app_->add_option_function<std::string>(
        names, [&target](const std::string& v) { target = v; }, help);
    option->type_name(valueName);
    missing_.emplace_back(option->get_name(), missing);
    values_.push_back(option);
    return *this;
}

CommandOptions& CommandOptions::argument(const char* name, std::string& target, const char* help) {
    app_->add_option(name, target, help)->required();
    return *this;
}

CommandOptions& CommandOptions::rest(std::vector<std::string>& target) {
    app_->prefix_command();
    rest_ = &target;
    return *this;
}

CommandOptions& CommandOptions::footer(const std::string& text) {
    app_->footer(text);
    return *this;
}

std::string CommandOptions::help() const {
    return app_->help();
}

std::optional<int> CommandOptions::parse(std::ostream& out, std::ostream& err,
                                         const std::vector<std::string>& args) {
    const std::string prefix =
        command_.empty() ? "benchcap-cli: " : "benchcap-cli " + command_ + ": ";
    auto refuse = [&](const std::string& reason) {
        if (!reason.empty())
            err << prefix << reason << '\n';
        err << "usage: benchcap-cli " << usage_ << '\n';
        return kExitUsage;
    };
    std::vector<std::string> reversed;  // CLI11 takes them last first
    for (auto a = args.rbegin(); a != args.rend(); ++a) {
        // "--interface=" gives an empty value, where CLI11 would take the next word.
        if (a->size() > 3 && a->back() == '=' && a->rfind("--", 0) == 0 &&
            app_->get_option_no_throw(a->substr(0, a->size() - 1))) {
            reversed.emplace_back();
            reversed.push_back(a->substr(0, a->size() - 1));
        } else {
            reversed.push_back(*a);
        }
    }
    try {
        app_->parse(reversed);
    } catch (const CLI::CallForHelp&) {
        out << app_->help();
        return kExitDone;
    } catch (const CLI::ArgumentMismatch& e) {
        // CLI11 names the option first: "--board: 1 required TEXT missing", or else a flag
        // given a value: "json was given a disallowed flag override".
        const std::string what = e.what();
        if (what.find(" required ") == std::string::npos)
            return refuse("--" + what.substr(0, what.find(' ')) + " takes no value");
        const std::string name = what.substr(0, what.find(':'));
        const auto known = std::find_if(missing_.begin(), missing_.end(),
                                        [&](const auto& m) { return m.first == name; });
        return refuse(name + " needs " + (known != missing_.end() ? known->second : "a value"));
    } catch (const CLI::RequiredError&) {
        return refuse("");
    } catch (const CLI::ParseError& e) {
        return refuse(e.what());
    }
    for (const CLI::Option* option : values_) {
        if (option->count() > 1)
            return refuse(option->get_name() + " is given more than once; give it once");
    }
    std::vector<std::string> extra = app_->remaining();
    if (rest_) {
        *rest_ = std::move(extra);
        return std::nullopt;
    }
    if (!extra.empty())
        return refuse("unexpected argument '" + extra.front() + "'");
    return std::nullopt;
}

}  // namespace benchcap::cli
