#include "cli/cli.h"

#include <charconv>
#include <cstdlib>
#include <ostream>

namespace benchcap::cli {

bus::MessageResult CliUserInterface::messageBox(bus::MessageIcon icon, const std::string& title,
                                                const std::string& text,
                                                bus::MessageButtons buttons) {
    if (!quiet_) {
        if (!title.empty())
            err_ << title << " ";
        err_ << text;
        if (text.empty() || text.back() != '\n')
            err_ << '\n';
    }
    return script_.messageBox(icon, title, text, buttons);
}

std::optional<std::string> CliUserInterface::inputBox(const std::string& title,
                                                      const std::string& prompt,
                                                      const std::string& preset) {
    // Unattended: no queued answer is the empty entry, not a cancelled box.
    const std::string answer = script_.inputBox(title, prompt, preset).value_or("");
    if (!quiet_)
        err_ << title << ": " << prompt << " -> '" << answer << "'\n";
    return answer;
}

CliContext::CliContext(std::string interfaceChoice, std::ostream& out, std::ostream& err)
    : out(out), err(err), ui(err), interfaceChoice_(std::move(interfaceChoice)) {
    if (interfaceChoice_.empty()) {
        const char* env = std::getenv("BENCHCAP_INTERFACE");
        interfaceChoice_ = env && *env ? env : "library";
    }
}

bus::GpibDriver* CliContext::driver() {
    if (!backend_)
        backend_ = sim::makeBackend(interfaceChoice_);
    if (!backend_->error.empty()) {
        err << "benchcap-cli: " << backend_->error << '\n';
        return nullptr;
    }
    if (std::string reason = backend_->driver->unavailableReason(); !reason.empty()) {
        err << "benchcap-cli: " << reason << '\n';
        return nullptr;
    }
    return backend_->driver.get();
}

bus::Clock& CliContext::clock() {
    if (!backend_)
        driver();
    return *backend_->clock;
}

std::optional<int> parseBoundedInt(const std::string& text, int lo, int hi) {
    int value = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || ptr != text.data() + text.size() || value < lo || value > hi) {
        return std::nullopt;
    }
    return value;
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

std::string withoutNulFilling(const std::string& reply) {
    const auto end = reply.find_last_not_of('\0');
    return end == std::string::npos ? std::string() : reply.substr(0, end + 1);
}

const std::vector<CliCommand>& cliCommands() {
    static const std::vector<CliCommand> commands = {
        {"idn", "idn ADDRESS [--json]", cmdIdn},
        {"query", "query ADDRESS COMMAND", cmdQuery},
        {"demo", "demo [--out DIR]", cmdDemo},
        {"render", "render IN.(wmf|bmp) -o OUT.png [--size WxH] [--strict]", cmdRender},
        {"hardcopy",
         "hardcopy ADDRESS [--format WMF|BMP] [--bw] [--suppress-config] [--plotter] [-o FILE]",
         cmdHardcopy},
        {"scan", "scan [--timeouts START:STOP] [--board N] [--json]", cmdScan},
        {"board-config", "board-config save|load FILE MASTERKEY [--board N]", cmdBoardConfig},
        {"trace", "trace ADDRESS N [-o FILE] [--locale NAME]", cmdTrace},
    };
    return commands;
}

namespace {

void usage(std::ostream& err) {
    err << "usage: benchcap-cli [--interface library|sim[:BENCHFILE]] COMMAND ...\n"
           "commands:\n";
    for (const auto& c : cliCommands())
        err << "  " << c.usage << '\n';
}

}  // namespace

int runCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    std::string interface;
    std::vector<std::string> rest;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--interface" && rest.empty()) {
            if (i + 1 >= args.size()) {
                err << "benchcap-cli: --interface needs a value: library, sim or sim:BENCHFILE\n";
                return kExitUsage;
            }
            interface = args[++i];
        } else if (a.rfind("--interface=", 0) == 0 && rest.empty()) {
            interface = a.substr(12);
        } else if ((a == "--help" || a == "-h") && rest.empty()) {
            usage(out);
            return kExitDone;
        } else {
            rest.push_back(a);
        }
    }
    if (rest.empty()) {
        usage(err);
        return kExitUsage;
    }
    for (const auto& c : cliCommands()) {
        if (rest[0] == c.name) {
            CliContext context(interface, out, err);
            return c.run(context, std::vector<std::string>(rest.begin() + 1, rest.end()));
        }
    }
    err << "benchcap-cli: unknown command '" << rest[0] << "'\n";
    usage(err);
    return kExitUsage;
}

}  // namespace benchcap::cli
