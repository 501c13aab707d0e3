#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "bus/testing/scripted_user_interface.h"
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

    void queueInput(std::string text) { script_.queueInput(std::move(text)); }
    // Texts of the boxes shown so far.
    std::vector<std::string> shown() const { return script_.texts(); }
    void setQuiet(bool quiet) { quiet_ = quiet; }

  private:
    std::ostream& err_;
    // Queues the answers and keeps what was shown.
    bus::testing::ScriptedUserInterface script_;
    bool quiet_ = false;
};

// What every command gets: the chosen backend (made on first use), the streams, the boxes.
class CliContext {
  public:
    // An empty choice takes BENCHCAP_INTERFACE, and "library" when that is unset.
    CliContext(std::string interfaceChoice, std::ostream& out, std::ostream& err);

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
// parseAddress, printing "benchcap-cli <command>: address must be ..." when it fails.
std::optional<int> addressArgument(CliContext& context, const char* command,
                                   const std::string& text);
std::string withoutNulFilling(const std::string& reply);

// The commands.
int cmdIdn(CliContext& context, const std::vector<std::string>& args);
int cmdQuery(CliContext& context, const std::vector<std::string>& args);
int cmdDemo(CliContext& context, const std::vector<std::string>& args);
int cmdRender(CliContext& context, const std::vector<std::string>& args);
int cmdHardcopy(CliContext& context, const std::vector<std::string>& args);
int cmdScan(CliContext& context, const std::vector<std::string>& args);
int cmdBoardConfig(CliContext& context, const std::vector<std::string>& args);
int cmdTrace(CliContext& context, const std::vector<std::string>& args);

// Decimal separator of a locale name such as "de_DE" or "en_US.UTF-8" ('.' for C/POSIX),
// and of the user's regional settings (LC_ALL, LC_NUMERIC, LANG, the first one set).
char decimalSeparatorFor(const std::string& localeName);
char decimalSeparatorFromEnvironment();

}  // namespace benchcap::cli
