#include "base/option_parser.h"

#include <CLI/CLI.hpp>

#include <algorithm>

namespace benchcap {

OptionParser::OptionParser(const std::string& name) : app_(std::make_unique<CLI::App>("", name)) {
    // Unknown words are reported in the caller's own words, not CLI11's.
    app_->allow_extras();
    // A value option given twice is refused after parsing (which of two files was meant?);
    // a flag given twice is the flag.
    app_->option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
}

OptionParser::~OptionParser() = default;

OptionParser& OptionParser::flag(const char* names, bool& target, const char* help) {
    app_->add_flag(names, target, help)->disable_flag_override();
    return *this;
}

OptionParser& OptionParser::value(const char* names, std::optional<std::string>& target,
                                  const char* valueName, const char* help, const char* missing) {
    CLI::Option* option = app_->add_option_function<std::string>(
        names, [&target](const std::string& v) { target = v; }, help);
    option->type_name(valueName);
    missing_.emplace_back(option->get_name(), missing);
    values_.push_back(option);
    return *this;
}

OptionParser& OptionParser::values(const char* names, std::vector<std::string>& target,
                                   const char* valueName, const char* help, const char* missing) {
    CLI::Option* option = app_->add_option_function<std::vector<std::string>>(
        names, [&target](const std::vector<std::string>& v) { target = v; }, help);
    option->type_name(valueName)->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    option->allow_extra_args(false);
    missing_.emplace_back(option->get_name(), missing);
    return *this;
}

OptionParser& OptionParser::argument(const char* name, std::string& target, const char* help) {
    app_->add_option(name, target, help)->required();
    return *this;
}

OptionParser& OptionParser::rest(std::vector<std::string>& target) {
    app_->prefix_command();
    rest_ = &target;
    return *this;
}

OptionParser& OptionParser::others(std::vector<std::string>& target) {
    rest_ = &target;
    return *this;
}

OptionParser& OptionParser::footer(const std::string& text) {
    app_->footer(text);
    return *this;
}

OptionParser& OptionParser::ownHelp() {
    app_->set_help_flag();
    return *this;
}

std::string OptionParser::help() const {
    return app_->help();
}

Result<OptionParser::Asked> OptionParser::parse(const std::vector<std::string>& args) {
    std::vector<std::string> reversed;  // CLI11 takes them last first
    for (auto a = args.rbegin(); a != args.rend(); ++a) {
        // CLI11 reads "--interface=" as "--interface" and takes the next word as its value;
        // here it is an empty value.
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
        return Asked::Help;
    } catch (const CLI::ArgumentMismatch& e) {
        // One error for a value left out and for a flag given one, with the option only in
        // its text: "--board: 1 required TEXT missing", "json was given a disallowed flag
        // override".
        const std::string what = e.what();
        if (what.find(" required ") == std::string::npos)
            return fail("--" + what.substr(0, what.find(' ')) + " takes no value");
        const std::string name = what.substr(0, what.find(':'));
        const auto known = std::find_if(missing_.begin(), missing_.end(),
                                        [&](const auto& m) { return m.first == name; });
        return fail(name + " needs " + (known != missing_.end() ? known->second : "a value"));
    } catch (const CLI::RequiredError&) {
        return fail("");
    } catch (const CLI::ParseError& e) {
        return fail(e.what());
    }
    for (const CLI::Option* option : values_) {
        if (option->count() > 1)
            return fail(option->get_name() + " is given more than once; give it once");
    }
    std::vector<std::string> extra = app_->remaining();
    if (rest_) {
        *rest_ = std::move(extra);
        return Asked::Options;
    }
    if (!extra.empty())
        return fail("unexpected argument '" + extra.front() + "'");
    return Asked::Options;
}

}  // namespace benchcap
