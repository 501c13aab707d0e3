#pragma once

#include <deque>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "bus/user_interface.h"

namespace benchcap::cli {

// Boxes of a program without a window: each box is one line on stderr,
// "benchcap: TITLE: TEXT". Nobody is there to answer, so a question gets the safe "No"
// (Cancel for OK/Cancel) and an input box takes the answers the command queued from its
// options, else the empty entry.
class CliUserInterface final : public bus::UserInterface {
  public:
    explicit CliUserInterface(std::ostream& err) : err_(err) {}

    bus::MessageResult messageBox(bus::MessageIcon icon, const std::string& title,
                                  const std::string& text, bus::MessageButtons buttons) override;
    std::optional<std::string> inputBox(const std::string& title, const std::string& prompt,
                                        const std::string& preset) override;

    void queueInput(std::string text) { inputs_.push_back(std::move(text)); }
    // Texts of the boxes shown so far (message texts and input prompts), quiet ones too.
    const std::vector<std::string>& shown() const { return shown_; }
    // Quiet boxes are kept in shown() but not printed (for --json output).
    void setQuiet(bool quiet) { quiet_ = quiet; }

  private:
    void print(const std::string& title, const std::string& text);

    std::ostream& err_;
    std::deque<std::string> inputs_;
    std::vector<std::string> shown_;
    bool quiet_ = false;
};

}  // namespace benchcap::cli
