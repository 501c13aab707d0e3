#pragma once

#include <filesystem>
#include <initializer_list>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bus/session.h"
#include "bus/user_interface.h"
#include "cli/cli_user_interface.h"
#include "interfaces/backend.h"
#include "recipes/recipe_book.h"

namespace benchcap::cli {

// Exit codes of benchcap-cli.
inline constexpr int kExitDone = 0;
inline constexpr int kExitNoAnswer =
    1;  // the instrument did not answer, is not recognised, or the job failed
inline constexpr int kExitUsage = 2;  // bad arguments or no usable interface

// What every command gets: the chosen backend (made on first use), the streams, the boxes.
class CliContext {
  public:
    // An empty choice takes BENCHCAP_INTERFACE, and "library" when that is unset.
    CliContext(std::string interfaceChoice, std::ostream& out, std::ostream& err);

    // The driver to use, or nullptr after printing the reason (exit code 2 then).
    bus::GpibDriver* driver();
    bus::Clock& clock();
    const std::string& interfaceChoice() const { return interfaceChoice_; }
    // Log every driver call to `file` (empty: BENCHCAP_BUS_LOG, else no log).
    void setBusLog(const std::string& file, bool fullData);
    // The command's end: says where the bus log went and whether a replay matched the log
    // (a replay that parted from its log fails the command); returns the exit code.
    int finish(int code);

    std::ostream& out;
    std::ostream& err;
    CliUserInterface ui;

  private:
    std::string interfaceChoice_;
    std::optional<interfaces::Backend> backend_;
    std::string busLogFile_;
    bool busLogFull_ = false;
};

// The instrument a command talks to: its record and its session, whose waits end on a stop
// signal.
struct CliInstrument {
    explicit CliInstrument(bus::GpibDriver& driver);
    bus::CurrentInstrument instrument;
    bus::Session session;
};

// How a command starts with its instrument: identified, as the instrument commands start,
// or only opened, for any instrument.
enum class Greeting { Identify, Open };

// The instrument at `address` (board 0) on the chosen interface; nullptr after printing why
// the interface cannot be used (the command ends with kExitUsage).
std::unique_ptr<CliInstrument> openInstrument(CliContext& context, int address,
                                              Greeting greeting = Greeting::Identify);

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
// "WxH" (or "WXH") with both sides 1..maxSide.
std::optional<std::pair<int, int>> parseSizeText(const std::string& text, int maxSide);
std::optional<int> parseAddress(const std::string& text);  // 1..30
// parseAddress, printing "benchcap-cli <command>: address must be ..." when it fails.
std::optional<int> addressArgument(CliContext& context, const char* command,
                                   const std::string& text);
std::string withoutNulFilling(const std::string& reply);
// Whether the output files a command was given can take a file; says why not on
// `context.err` (a device node, FIFO or socket is never replaced: exit kExitUsage).
bool outputsUsable(CliContext& context, const char* command,
                   std::initializer_list<const std::optional<std::string>*> files);

// The commands.
int cmdIdn(CliContext& context, const std::vector<std::string>& args);
int cmdQuery(CliContext& context, const std::vector<std::string>& args);
int cmdDemo(CliContext& context, const std::vector<std::string>& args);
int cmdRender(CliContext& context, const std::vector<std::string>& args);
int cmdHardcopy(CliContext& context, const std::vector<std::string>& args);
int cmdScan(CliContext& context, const std::vector<std::string>& args);
int cmdBoardConfig(CliContext& context, const std::vector<std::string>& args);
int cmdTrace(CliContext& context, const std::vector<std::string>& args);
int cmdRecord(CliContext& context, const std::vector<std::string>& args);
int cmdAdapterSim(CliContext& context, const std::vector<std::string>& args);
int cmdBusLog(CliContext& context, const std::vector<std::string>& args);
int cmdVxi11Sim(CliContext& context, const std::vector<std::string>& args);
int cmdSocketSim(CliContext& context, const std::vector<std::string>& args);
int cmdRecipes(CliContext& context, const std::vector<std::string>& args);

// The folder of the user's recipes.yaml: `given`, else $XDG_CONFIG_HOME/benchcap, else
// ~/.config/benchcap. The recipes (shipped and the user's), or nothing after printing why
// not as "benchcap-cli COMMAND: ...".
std::filesystem::path recipesFolder(const std::optional<std::string>& given);
std::optional<recipes::RecipeBook> loadRecipes(CliContext& context, const char* command,
                                               const std::optional<std::string>& folder);

// `benchcap-cli --system-info`: Benchcap's version, the OS (PRETTY_NAME of os-release), the
// Qt run-time version and the driver library loaded (its file) or why none was.
// With an interface chosen that can be asked (argument or BENCHCAP_INTERFACE: a "++"
// adapter, a VXI-11 gateway), also its answer.
int printSystemInfo(std::ostream& out, const std::string& interfaceChoice = {});
std::string systemReport(const std::string& osReleaseFile, const std::string& driverLine);
std::string operatingSystemName(const std::string& osReleaseFile);

// Decimal separator of a locale name such as "de_DE" or "en_US.UTF-8" ('.' for C/POSIX;
// nothing for a name no locale has, such as xx_YY or a path), and of the user's regional
// settings (LC_ALL, LC_NUMERIC, LANG, the first one set; '.' for one unknown).
std::optional<char> decimalSeparatorFor(const std::string& localeName);
char decimalSeparatorFromEnvironment();
// The separator of --locale NAME, or of the environment without it; a NAME no locale has
// is said on `context.err` and gives nothing (the command ends with kExitUsage).
std::optional<char> chosenDecimalSeparator(CliContext& context, const std::string& command,
                                           const std::optional<std::string>& localeName);

}  // namespace benchcap::cli
