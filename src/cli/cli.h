#pragma once

#include <deque>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "bus/user_interface.h"
#include "sim/backend.h"

namespace benchcap::cli {

// Exit codes of benchcap-cli.
inline constexpr int kExitDone = 0;
inline constexpr int kExitNoAnswer =
    1;  // the instrument did not answer, is not recognised, or the job failed
inline constexpr int kExitUsage = 2;  // bad arguments or no usable interface

// Boxes of a program without a window: each box is printed to stderr (title and text);
// questions take the answers queued by the command (from its options), else the box's
// first button (OK, Yes), as a user pressing Enter would. An input box without a queued
// answer gets the empty entry.
class CliUserInterface final : public bus::UserInterface {
  public:
    explicit CliUserInterface(std::ostream& err) : err_(err) {}

    bus::MessageResult messageBox(bus::MessageIcon icon, const std::string& title,
                                  const std::string& text, bus::MessageButtons buttons) override;
    std::optional<std::string> inputBox(const std::string& title, const std::string& prompt,
                                        const std::string& preset) override;

    void queueAnswer(bus::MessageResult answer) { answers_.push_back(answer); }
    void queueInput(std::string text) { inputs_.push_back(std::move(text)); }
    // Texts of the boxes shown so far.
    const std::vector<std::string>& shown() const { return shown_; }
    void setQuiet(bool quiet) { quiet_ = quiet; }

  private:
    std::ostream& err_;
    std::deque<bus::MessageResult> answers_;
    std::deque<std::string> inputs_;
    std::vector<std::string> shown_;
    bool quiet_ = false;
};

// What every command gets: the chosen backend (made on first use), the streams, the boxes.
class CliContext {
  public:
    CliContext(std::string interfaceChoice, std::ostream& out, std::ostream& err)
        : out(out), err(err), ui(err), interfaceChoice_(std::move(interfaceChoice)) {}

    // The driver to use, or nullptr after printing the reason (exit code 2 then).
    bus::GpibDriver* driver();
    bus::Clock& clock();
    const std::string& interfaceChoice() const { return interfaceChoice_; }

    std::ostream& out;
    std::ostream& err;
    CliUserInterface ui;

  private:
    std::string interfaceChoice_;
    std::optional<sim::Backend> backend_;
};

// One sub-command: name, usage line, and its function over the arguments after the name.
struct CliCommand {
    const char* name;
    const char* usage;
    int (*run)(CliContext& context, const std::vector<std::string>& args);
};

const std::vector<CliCommand>& cliCommands();
int runCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// Small helpers for the commands.
std::optional<int> parseBoundedInt(const std::string& text, int lo, int hi);
std::optional<int> parseAddress(const std::string& text);  // 1..30
std::string withoutNulFilling(const std::string& reply);

// The commands.
int cmdIdn(CliContext& context, const std::vector<std::string>& args);
int cmdQuery(CliContext& context, const std::vector<std::string>& args);
int cmdDemo(CliContext& context, const std::vector<std::string>& args);
int cmdRender(CliContext& context, const std::vector<std::string>& args);
int cmdHardcopy(CliContext& context, const std::vector<std::string>& args);
int cmdScan(CliContext& context, const std::vector<std::string>& args);
int cmdBoardConfig(CliContext& context, const std::vector<std::string>& args);

}  // namespace benchcap::cli
