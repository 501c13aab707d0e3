#include "sim/adapter_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <thread>

#include "bus/adapter/prologix_protocol.h"

namespace benchcap::sim {

using namespace bus::ibsta_bits;

namespace {

constexpr int kPollMillis = 50;

std::optional<int> number(const std::string& text) {
    int value = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || ptr != text.data() + text.size())
        return std::nullopt;
    return value;
}

// Board time-out code for the adapter's read time-out (the bench's reads end at once on
// virtual time; the adapter's real pause is added separately).
int timeoutCodeFor(int millis) {
    return millis <= 300 ? bus::timeout_codes::T300ms
                         : (millis <= 1000 ? bus::timeout_codes::T1s : bus::timeout_codes::T3s);
}

}  // namespace

AdapterServer::AdapterServer(SimBench& bench, std::string version)
    : bench_(bench), version_(std::move(version)) {
    // The bench's waits (an instrument that has not plotted yet, on the real clock) end
    // when the server is stopped.
    bench_.setInterruptCheck([this] { return stopping(); });
}

void AdapterServer::pause(int millis) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(millis);
    while (!stopping_ && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(millis, 10)));
}

bool AdapterServer::sendAll(int fd, const std::string& bytes) {
    return sendAllBytes(fd, bytes, stopping_);
}

bool AdapterServer::reply(int fd, const std::string& text) {
    return sendAll(fd, text + "\r\n");
}

int AdapterServer::handle(int address) {
    auto it = handles_.find(address);
    if (it != handles_.end())
        return it->second;
    const int ud = bench_.ibdev(0, address, 0, bus::timeout_codes::T300ms, 1, 0);
    if (ud >= 0)
        handles_[address] = ud;
    return ud;
}

void AdapterServer::serveListener(int listenFd) {
    while (!stopping_) {
        pollfd p{listenFd, POLLIN, 0};
        if (::poll(&p, 1, kPollMillis) <= 0)
            continue;
        const int fd = ::accept(listenFd, nullptr, nullptr);
        if (fd < 0)
            continue;
        if (!outage_.active())
            serveConnection(fd);
        ::close(fd);
    }
}

void AdapterServer::serveConnection(int fd) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    settings_ = Settings{};
    bench_.ibrsc(0, 1);
    bench_.ibpad(0, 0);
    bus::adapter::HostLineParser parser;
    char buffer[65536];
    while (!stopping_ && !outage_.active()) {
        if (!settings_.controller && !pumpDeviceMode(fd))
            return;
        pollfd p{fd, POLLIN, 0};
        const int r = ::poll(&p, 1, kPollMillis);
        if (r < 0 && errno != EINTR)
            return;
        if (r <= 0)
            continue;
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0)
            return;
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR)
                continue;
            return;
        }
        for (const auto& line : parser.feed(std::string_view(buffer, static_cast<size_t>(n)))) {
            const bool ok = line.command ? handleCommand(fd, line.text) : handleData(fd, line.text);
            if (!ok)
                return;
        }
    }
}

bool AdapterServer::handleData(int fd, const std::string& data) {
    if (!settings_.controller) {
        // Device mode: one message is held for the instrument until it addresses the
        // adapter to talk; a later one replaces it.
        static const char* const kEnds[] = {"\r\n", "\r", "\n", ""};
        settings_.held = data + kEnds[settings_.eos & 3];
        return true;
    }
    static const char* const kTerminators[] = {"\r\n", "\r", "\n", ""};
    const std::string message = data + kTerminators[settings_.eos & 3];
    const int ud = handle(settings_.address);
    if (ud < 0)
        return true;
    bench_.ibconfig(ud, bus::ibc::EOT, settings_.eoi ? 1 : 0);
    // No listener: the bytes are lost, and the adapter says nothing (it cannot tell).
    bench_.ibwrt(ud, message.data(), static_cast<long>(message.size()));
    if (settings_.autoRead)
        return readFromInstrument(fd, "eoi");
    return true;
}

bool AdapterServer::readFromInstrument(int fd, const std::string& how) {
    const int ud = handle(settings_.address);
    if (ud < 0)
        return true;
    const bool untilEoi = how == "eoi";
    std::optional<char> untilChar;
    if (!untilEoi && !how.empty()) {
        const auto c = number(how);
        if (c && *c >= 0 && *c <= 255)
            untilChar = static_cast<char>(*c);
    }
    bench_.ibtmo(ud, timeoutCodeFor(settings_.readMillis));
    std::string chunk(64 * 1024, '\0');
    for (;;) {
        if (stopping_)
            return false;
        const int sta = bench_.ibrd(ud, chunk.data(), static_cast<long>(chunk.size()));
        const auto got = static_cast<size_t>(std::max(0, bench_.status().ibcntl));
        std::string out = chunk.substr(0, got);
        bool done = false;
        if (untilChar) {
            const size_t at = out.find(*untilChar);
            if (at != std::string::npos) {
                out.resize(at + 1);
                done = true;
            }
        }
        const bool end = (sta & END) != 0;
        if (end && settings_.eotEnable)
            out += static_cast<char>(settings_.eotChar);
        if (!out.empty() && !sendAll(fd, out))
            return false;
        if (done || (end && (untilEoi || untilChar)))
            return true;
        if (sta & (TIMO | ERR)) {
            // Silence: the adapter waits out its read time-out before taking commands again.
            pause(settings_.readMillis);
            return true;
        }
        if (end) {
            // "++read" without an argument reads until the time-out.
            pause(settings_.readMillis);
            return true;
        }
    }
}

bool AdapterServer::pumpDeviceMode(int fd) {
    if (settings_.plotTaken) {
        // After the plot began only a held message moves things on: the instrument that
        // asked reads it when it addresses the adapter to talk, then sends on.
        if (settings_.held.empty())
            return true;
        bench_.ibtmo(0, 7);  // 10 ms: a look, not a wait
        if (!(bench_.ibwait(0, TIMO | TACS) & TACS))
            return true;
        bench_.ibwrt(0, settings_.held.data(), static_cast<long>(settings_.held.size()));
        settings_.held.clear();
    } else {
        // An instrument that plots to our address talks when it is ready; the adapter
        // passes every byte on at once.
        bench_.ibtmo(0, bus::timeout_codes::T1000s);
        bench_.setBoardListenOnly(0, settings_.listenOnly);
        const int sta = bench_.ibwait(0, TIMO | LACS);
        if (!(sta & LACS))
            return true;
        settings_.plotTaken = true;
    }
    bench_.ibtmo(0, bus::timeout_codes::T300ms);
    std::string chunk(64 * 1024, '\0');
    for (int i = 0; i < 100000 && !stopping_; ++i) {
        const int rsta = bench_.ibrd(0, chunk.data(), static_cast<long>(chunk.size()));
        const auto got = static_cast<size_t>(std::max(0, bench_.status().ibcntl));
        std::string out = chunk.substr(0, got);
        if ((rsta & END) && settings_.eotEnable)
            out += static_cast<char>(settings_.eotChar);
        if (!out.empty() && !sendAll(fd, out))
            return false;
        if (rsta & (TIMO | ERR))
            break;
    }
    return true;
}

struct AdapterServer::Command {
    int fd;
    std::string arg;
    std::optional<int> value;
};

bool AdapterServer::flag(const Command& c, bool Settings::*field) {
    bool& setting = settings_.*field;
    if (c.arg.empty())
        return reply(c.fd, setting ? "1" : "0");
    if (c.value && (*c.value == 0 || *c.value == 1))
        setting = *c.value == 1;
    return true;
}

bool AdapterServer::setting(const Command& c, int Settings::*field, int low, int high) {
    int& setting = settings_.*field;
    if (c.arg.empty())
        return reply(c.fd, std::to_string(setting));
    if (c.value && *c.value >= low && *c.value <= high)
        setting = *c.value;
    return true;
}

bool AdapterServer::setAddress(const Command& c) {
    if (c.arg.empty())
        return reply(c.fd, std::to_string(settings_.address));
    const std::string primary = c.arg.substr(0, c.arg.find(' '));
    if (auto pad = number(primary); pad && *pad >= 0 && *pad <= 30) {
        settings_.address = *pad;
        if (!settings_.controller)
            bench_.ibpad(0, *pad);
    }
    return true;
}

bool AdapterServer::setMode(const Command& c) {
    if (c.arg.empty())
        return reply(c.fd, settings_.controller ? "1" : "0");
    if (c.value && (*c.value == 0 || *c.value == 1)) {
        settings_.controller = *c.value == 1;
        settings_.plotTaken = false;
        settings_.held.clear();
        settings_.listenOnly = false;
        bench_.ibrsc(0, settings_.controller ? 1 : 0);
        bench_.ibpad(0, settings_.controller ? 0 : settings_.address);
    }
    return true;
}

bool AdapterServer::serialPoll(const Command& c) {
    int pad = settings_.address;
    if (auto p = number(c.arg.substr(0, c.arg.find(' '))))
        pad = *p;
    SimInstrument* inst = bench_.instrument(0, pad);
    if (inst && inst->listens())
        return reply(c.fd, "0");
    // Nobody talks: the adapter waits out its time-out and answers nothing.
    pause(settings_.readMillis);
    return true;
}

const std::map<std::string, AdapterServer::Handler>& AdapterServer::commands() {
    using S = Settings;
    const auto flagOf = [](bool S::*field) -> Handler {
        return [field](AdapterServer& a, const Command& c) { return a.flag(c, field); };
    };
    const auto ranged = [](int S::*field, int low, int high) -> Handler {
        return [=](AdapterServer& a, const Command& c) { return a.setting(c, field, low, high); };
    };
    const Handler nothing = [](AdapterServer&, const Command&) { return true; };
    static const std::map<std::string, Handler> table = {
        {"ver", [](AdapterServer& a, const Command& c) { return a.reply(c.fd, a.version_); }},
        {"addr", &AdapterServer::setAddress},
        {"auto", flagOf(&S::autoRead)},
        {"eoi", flagOf(&S::eoi)},
        {"eot_enable", flagOf(&S::eotEnable)},
        {"eos", ranged(&S::eos, 0, 3)},
        {"eot_char", ranged(&S::eotChar, 0, 255)},
        {"read_tmo_ms", ranged(&S::readMillis, 1, 3000)},
        {"mode", &AdapterServer::setMode},
        {"lon", flagOf(&S::listenOnly)},
        {"savecfg", nothing},
        {"trg", nothing},
        {"llo", nothing},
        {"read",
         [](AdapterServer& a, const Command& c) {
             return a.settings_.controller ? a.readFromInstrument(c.fd, c.arg) : true;
         }},
        {"ifc",
         [](AdapterServer& a, const Command&) {
             a.bench_.SendIFC(0);
             return true;
         }},
        {"loc",
         [](AdapterServer& a, const Command&) {
             if (int ud = a.handle(a.settings_.address); ud >= 0)
                 a.bench_.ibloc(ud);
             return true;
         }},
        {"clr",
         [](AdapterServer& a, const Command&) {
             if (int ud = a.handle(a.settings_.address); ud >= 0)
                 a.bench_.ibclr(ud);
             return true;
         }},
        {"spoll", &AdapterServer::serialPoll},
        {"srq", [](AdapterServer& a, const Command& c) { return a.reply(c.fd, "0"); }},
        {"status", ranged(&S::status, 0, 255)},
        {"rst",
         [](AdapterServer& a, const Command&) {
             a.settings_ = Settings{};
             return true;
         }},
        {"help",
         [](AdapterServer& a, const Command& c) {
             return a.reply(c.fd,
                            "++addr ++auto ++clr ++eoi ++eos ++eot_enable ++eot_char ++ifc ++llo "
                            "++loc ++lon ++mode ++read ++read_tmo_ms ++rst ++savecfg ++spoll ++srq "
                            "++status ++trg ++ver ++help");
         }},
    };
    return table;
}

bool AdapterServer::handleCommand(int fd, const std::string& text) {
    const size_t space = text.find(' ');
    const std::string name = text.substr(0, space);
    std::string arg = space == std::string::npos ? std::string() : text.substr(space + 1);
    while (!arg.empty() && arg.back() == ' ')
        arg.pop_back();
    while (!arg.empty() && arg.front() == ' ')
        arg.erase(0, 1);
    const auto it = commands().find(name);
    if (it == commands().end())
        return reply(fd, "Unrecognized command");
    const std::optional<int> value = number(arg);
    return it->second(*this, Command{fd, std::move(arg), value});
}

bool sendAllBytes(int fd, const std::string& bytes, const std::atomic<bool>& stopping) {
    size_t done = 0;
    while (done < bytes.size()) {
        if (stopping)
            return false;
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        ssize_t wrote = n;
        if (n < 0 && errno == ENOTSOCK)
            wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (wrote > 0) {
            done += static_cast<size_t>(wrote);
            continue;
        }
        if (wrote < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        pollfd p{fd, POLLOUT, 0};
        ::poll(&p, 1, kPollMillis);
    }
    return true;
}

Result<Listener> listenTcp(const std::string& host, int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return fail(std::string("cannot open a socket: ") + std::strerror(errno));
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (::inet_pton(AF_INET, host.c_str(), &addr.sin_addr) != 1) {
        ::close(fd);
        return fail("listen address must be an IPv4 address such as 127.0.0.1, not '" + host + "'");
    }
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 4) != 0) {
        const std::string why = std::strerror(errno);
        ::close(fd);
        return fail("cannot listen on " + host + ":" + std::to_string(port) + ": " + why);
    }
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    return Listener{fd, ntohs(addr.sin_port)};
}

Result<PseudoTerminal> openPseudoTerminal() {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        const std::string why = std::strerror(errno);
        if (master >= 0)
            ::close(master);
        return fail("cannot open a pseudo-terminal: " + why);
    }
    const char* name = ::ptsname(master);
    PseudoTerminal pty;
    pty.masterFd = master;
    pty.slavePath = name ? name : "";
    pty.keepSlaveFd = ::open(pty.slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (pty.keepSlaveFd >= 0) {
        // Raw from the start: no echo of the host's commands, no CR/LF translation.
        termios t{};
        ::tcgetattr(pty.keepSlaveFd, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(pty.keepSlaveFd, TCSANOW, &t);
    }
    return pty;
}

}  // namespace benchcap::sim
