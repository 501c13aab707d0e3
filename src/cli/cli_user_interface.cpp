#include "cli/cli_user_interface.h"

#include <ostream>

namespace benchcap::cli {

void CliUserInterface::print(const std::string& title, const std::string& text) {
    if (quiet_)
        return;
    err_ << "benchcap: ";
    if (!title.empty())
        err_ << title << (title.back() == ':' ? " " : ": ");
    // Box texts of the instrument layers may end with a line feed; the line has its own.
    const size_t end = text.find_last_not_of("\r\n");
    err_ << (end == std::string::npos ? std::string() : text.substr(0, end + 1)) << '\n';
}

bus::MessageResult CliUserInterface::messageBox(bus::MessageIcon /*icon*/, const std::string& title,
                                                const std::string& text,
                                                bus::MessageButtons buttons) {
    shown_.push_back(text);
    print(title, text);
    return bus::SafeAnswer(buttons);
}

std::optional<std::string> CliUserInterface::inputBox(const std::string& title,
                                                      const std::string& prompt,
                                                      const std::string& /*preset*/) {
    shown_.push_back(prompt);
    std::string answer;
    if (!inputs_.empty()) {
        answer = std::move(inputs_.front());
        inputs_.pop_front();
    }
    print(title, prompt + " -> '" + answer + "'");
    // Unattended: no queued answer is the empty entry, not a cancelled box.
    return answer;
}

}  // namespace benchcap::cli
