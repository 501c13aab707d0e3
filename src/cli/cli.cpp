#include "cli/cli.h"

#include "base/input_file.h"
#include "base/output_file.h"
#include "cli/command_options.h"
#include "cli/interrupt.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <exception>
#include <new>
#include <ostream>
#include <streambuf>

namespace benchcap::cli {

CliContext::CliContext(std::string interfaceChoice, std::ostream& out, std::ostream& err)
    : out(out),
      err(err),
      ui(err),
      interfaceChoice_(interfaces::chosenInterface(std::move(interfaceChoice))) {}

bus::GpibDriver* CliContext::driver() {
    if (!backend_) {
        backend_ = interfaces::makeBackend(interfaceChoice_);
        if (backend_->status && !busLogFile_.empty())
            backend_->status = interfaces::addBusLog(*backend_, busLogFile_, busLogFull_);
        // Every command's waits on the bus end promptly on SIGINT, SIGTERM or SIGHUP.
        if (backend_->driver)
            backend_->driver->setInterruptCheck(interruptRequested);
    }
    if (!backend_->status) {
        err << "benchcap-cli: " << backend_->status.error() << '\n';
        return nullptr;
    }
    if (std::string reason = backend_->driver->unavailableReason(); !reason.empty()) {
        err << "benchcap-cli: " << reason << '\n';
        return nullptr;
    }
    return backend_->driver.get();
}

void CliContext::setBusLog(const std::string& file, bool fullData) {
    busLogFile_ = interfaces::busLogChoice(file);
    busLogFull_ = fullData;
}

int CliContext::finish(int code) {
    if (!backend_)
        return code;
    if (backend_->replay) {
        if (const std::string verdict = backend_->replay->verdict(); !verdict.empty()) {
            err << "benchcap-cli: replay: " << verdict << '\n';
            code = code == kExitDone ? kExitNoAnswer : code;
        }
    }
    if (backend_->busLog) {
        backend_->busLog->stop();
        if (const std::string line = backend_->busLog->summaryLine(); !line.empty())
            err << "benchcap-cli: " << line << '\n';
        // A log asked for and not written whole is a failed run: it is what a bug report needs.
        if (!backend_->busLog->problem().empty() && code == kExitDone)
            code = kExitNoAnswer;
    }
    return code;
}

bus::Clock& CliContext::clock() {
    if (!backend_)
        driver();
    return *backend_->clock;
}

CliInstrument::CliInstrument(bus::GpibDriver& driver) : session(driver, instrument) {
    session.setInterruptCheck(interruptRequested);
}

std::unique_ptr<CliInstrument> openInstrument(CliContext& context, int address, Greeting greeting) {
    bus::GpibDriver* driver = context.driver();
    if (!driver)
        return nullptr;
    auto opened = std::make_unique<CliInstrument>(*driver);
    if (greeting == Greeting::Identify) {
        opened->session.SelectAndIdentify(0, static_cast<int16_t>(address));
    } else {
        bus::SelectInstrument(opened->instrument, 0, static_cast<int16_t>(address));
        opened->session.OpenDevice();
    }
    return opened;
}

std::optional<int> parseBoundedInt(const std::string& text, int lo, int hi) {
    int value = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || ptr != text.data() + text.size() || value < lo || value > hi) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::pair<int, int>> parseSizeText(const std::string& text, int maxSide) {
    const auto x = text.find_first_of("xX");
    if (x == std::string::npos)
        return std::nullopt;
    const std::optional<int> w = parseBoundedInt(text.substr(0, x), 1, maxSide);
    const std::optional<int> h = parseBoundedInt(text.substr(x + 1), 1, maxSide);
    if (!w || !h)
        return std::nullopt;
    return std::pair{*w, *h};
}

std::optional<int> parseAddress(const std::string& text) {
    return parseBoundedInt(text, 1, 30);
}

std::optional<int> addressArgument(CliContext& context, const char* command,
                                   const std::string& text) {
    const std::optional<int> address = parseAddress(text);
    if (!address) {
        context.err << "benchcap-cli " << command
                    << ": address must be a number from 1 to 30, not '" << text << "'\n";
    }
    return address;
}

bool outputsUsable(CliContext& context, const char* command,
                   std::initializer_list<const std::optional<std::string>*> files) {
    for (const std::optional<std::string>* file : files) {
        if (!*file)
            continue;
        if (const Status usable = checkOutputTarget(**file); !usable) {
            context.err << "benchcap-cli " << command << ": " << usable.error() << '\n';
            return false;
        }
    }
    return true;
}

std::string withoutNulFilling(const std::string& reply) {
    const auto end = reply.find_last_not_of('\0');
    return end == std::string::npos ? std::string() : reply.substr(0, end + 1);
}

const std::vector<CliCommand>& cliCommands() {
    static const std::vector<CliCommand> commands = {
        {"idn", "idn ADDRESS [--json]", cmdIdn},
        {"query", "query ADDRESS COMMAND [--raw]", cmdQuery},
        {"demo", "demo [--out DIR]", cmdDemo},
        {"render",
         "render IN.(wmf|bmp|hpgl) -o OUT.(png|svg|pdf) [--size WxH] [--strict]\n"
         "      (every plot page: a PDF holds them all; PNG, SVG write OUT.png, OUT-2.png, ...)",
         cmdRender},
        {"hardcopy",
         "hardcopy ADDRESS [--format WMF|BMP] [--bw] [--suppress-config] [--plotter] [-o FILE] "
         "[--paste-document]\n"
         "      [--recipe NAME] [--config DIR]",
         cmdHardcopy},
        {"scan", "scan [--timeouts START:STOP] [--board N] [--json] [--config DIR]", cmdScan},
        {"board-config", "board-config save|load FILE MASTERKEY [--board N]", cmdBoardConfig},
        {"trace",
         "trace ADDRESS N [-o FILE] [--locale NAME] [--plot FILE.(png|svg|pdf) [--size WxH]] "
         "[--paste-spreadsheet]\n"
         "      [--format text|touchstone [--touchstone-version 1.1|2.0] [--ports 1|2]] "
         "[--recipe NAME] [--config DIR]",
         cmdTrace},
        {"record",
         "record ADDRESS [--hardcopy-every S] [--trace N:S]... [--duration 24h | --count N] "
         "[-o FOLDER]\n"
         "      [--locale NAME] [--rotate-at SIZE] [--touchstone] [--config DIR]",
         cmdRecord},
        {"adapter-sim", "adapter-sim --listen 127.0.0.1:PORT | --pty [--bench FILE]",
         cmdAdapterSim},
        {"bus-log", "bus-log summary FILE", cmdBusLog},
        {"vxi11-sim",
         "vxi11-sim --listen 127.0.0.1:PORT [--portmapper PORT] [--bench FILE] [--max-links N] "
         "[--keep-links]",
         cmdVxi11Sim},
        {"socket-sim", "socket-sim --listen 127.0.0.1:PORT --address N [--bench FILE]",
         cmdSocketSim},
        {"recipes", "recipes [ADDRESS] [--config DIR] [--bench-entry NAME]", cmdRecipes},
    };
    return commands;
}

namespace {

// What the commands print goes through this to the real output, so a write error (a full
// disk behind "> file", a closed pipe or terminal) is caught for every command in one
// place, with the reason the system gave at the first failure. It buffers nothing.
class CheckedOutput final : public std::streambuf {
  public:
    explicit CheckedOutput(std::streambuf* target) : target_(target) {}

    bool failed() const { return failed_; }
    int error() const { return error_; }

  protected:
    std::streamsize xsputn(const char* data, std::streamsize size) override {
        if (failed_)
            return 0;
        errno = 0;
        const std::streamsize done = target_->sputn(data, size);
        if (done != size)
            fail();
        return done;
    }
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof()))
            return traits_type::not_eof(c);
        const char byte = traits_type::to_char_type(c);
        return xsputn(&byte, 1) == 1 ? c : traits_type::eof();
    }
    int sync() override {
        if (failed_)
            return -1;
        errno = 0;
        if (target_->pubsync() == -1) {
            fail();
            return -1;
        }
        return 0;
    }

  private:
    void fail() {
        failed_ = true;
        error_ = errno;
    }

    std::streambuf* target_;
    bool failed_ = false;
    int error_ = 0;
};

// Flushes the output; a failure at any time is the command's failure.
int finishOutput(std::ostream& out, CheckedOutput& checked, std::ostream& err, int code) {
    out.flush();
    if (!checked.failed())
        return code;
    err << "benchcap-cli: cannot write to standard output";
    if (checked.error() != 0)
        err << ": " << std::strerror(checked.error());
    err << ". The output is incomplete; check the disk or the program reading it.\n";
    return code == kExitDone ? kExitNoAnswer : code;
}

struct BusLogOptions {
    std::string file;
    bool full = false;
};

int runCommand(const CliCommand& command, const std::string& interface, const BusLogOptions& log,
               const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    // An exception must end in a message and an exit code, never in an abort; the texts
    // are literals so that reporting a lack of memory needs none.
    try {
        CliContext context(interface, out, err);
        context.setBusLog(log.file, log.full);
        return context.finish(command.run(context, args));
    } catch (const std::bad_alloc&) {
        err << "benchcap-cli " << command.name
            << ": out of memory. Close other programs, raise the memory limit, or read a "
               "shorter trace or picture.\n";
    } catch (const std::exception& e) {
        err << "benchcap-cli " << command.name << ": internal error: " << e.what() << '\n';
    }
    return kExitNoAnswer;
}

std::string programUsage() {
    return "[--interface " + interfaces::interfaceSynopsis() +
           "]\n"
           "       [--bus-log FILE [--bus-log-full]] COMMAND ...\n"
           "       benchcap-cli --system-info";
}

std::string commandList() {
    std::string list = "Commands (COMMAND --help tells more):\n";
    for (const auto& c : cliCommands())
        list += "  " + std::string(c.usage) + '\n';
    return list;
}

// The file names a command line gives besides the bus log, each as the user wrote it: the
// interface's file (sim:, replay:, lan:) and every word of the command, an option's value
// too ("--plot=F", "-oF").
std::vector<std::pair<std::string, std::string>> namedFiles(const std::string& interface,
                                                            const std::vector<std::string>& args) {
    std::vector<std::pair<std::string, std::string>> files;  // file, how it was named
    if (Result<interfaces::InterfaceChoice> choice = interfaces::parseInterfaceChoice(interface)) {
        for (const std::string* file :
             {&choice->benchFile, &choice->replayFile, &choice->lanBusFile})
            if (!file->empty())
                files.emplace_back(*file, "--interface " + interface);
    }
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& word = args[i];
        const bool afterOption = i > 0 && args[i - 1].size() > 1 && args[i - 1][0] == '-' &&
                                 args[i - 1].find('=') == std::string::npos;
        const std::string named = afterOption ? args[i - 1] + " " + word : word;
        if (word.size() > 1 && word[0] == '-') {
            if (const size_t eq = word.find('='); eq != std::string::npos)
                files.emplace_back(word.substr(eq + 1), word);
            else if (word[1] != '-' && word.size() > 2)
                files.emplace_back(word.substr(2), word);
        } else if (!word.empty()) {
            files.emplace_back(word, named);
        }
    }
    return files;
}

// The bus log must be a file of its own: an output of the same name would replace it (while
// the end line still counted its calls), and a file the run reads would be emptied first.
std::optional<std::string> busLogClash(const std::string& log, const std::string& logNamed,
                                       const std::string& interface,
                                       const std::vector<std::string>& args) {
    if (log.empty())
        return std::nullopt;
    for (const auto& [file, named] : namedFiles(interface, args)) {
        if (!file.empty() && sameFile(log, file)) {
            return logNamed + " and " + named +
                   " name the same file; give the bus log a file of its own";
        }
    }
    return std::nullopt;
}

int runArguments(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    std::optional<std::string> interface;
    std::optional<std::string> busLog;
    BusLogOptions log;
    bool systemInfo = false;
    std::vector<std::string> rest;
    const std::string interfaceHelp = "the GPIB interface: " + interfaces::interfaceBrief();
    CommandOptions options("", programUsage());
    options
        .value("--interface", interface, "CHOICE", interfaceHelp.c_str(),
               "a value: library, sim or sim:BENCHFILE")
        .value("--bus-log", busLog, "FILE",
               "write every driver call to FILE (docs/bus-log.md; also BENCHCAP_BUS_LOG)",
               "a file name")
        .flag("--bus-log-full", log.full, "keep blocks over 4 KiB whole in the bus log")
        .flag("--system-info", systemInfo, "print the system report and exit")
        .rest(rest)
        .footer(commandList());
    if (const std::optional<int> done = options.parse(out, err, args))
        return *done;
    if (systemInfo)
        return printSystemInfo(out, interface.value_or(""));
    if (rest.empty()) {
        err << options.help();
        return kExitUsage;
    }
    for (const auto& c : cliCommands()) {
        if (rest[0] == c.name) {
            log.file = busLog.value_or("");
            const std::vector<std::string> commandArgs(rest.begin() + 1, rest.end());
            const std::string logFile = interfaces::busLogChoice(log.file);
            // As CliContext chooses: an empty --interface takes BENCHCAP_INTERFACE.
            const std::string chosen = interfaces::chosenInterface(interface.value_or(""));
            if (const std::optional<std::string> clash = busLogClash(
                    logFile,
                    log.file.empty() ? "BENCHCAP_BUS_LOG=" + logFile : "--bus-log " + logFile,
                    chosen, commandArgs)) {
                err << "benchcap-cli: " << *clash << '\n';
                return kExitUsage;
            }
            return runCommand(c, interface.value_or(""), log, commandArgs, out, err);
        }
    }
    err << "benchcap-cli: unknown command '" << rest[0] << "'\n" << options.help();
    return kExitUsage;
}

}  // namespace

int runCli(const std::vector<std::string>& args, std::ostream& realOut, std::ostream& err) {
    CheckedOutput checked(realOut.rdbuf());
    std::ostream out(&checked);
    return finishOutput(out, checked, err, runArguments(args, out, err));
}

}  // namespace benchcap::cli
