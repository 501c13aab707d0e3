#include "sim/socket_server.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sim/adapter_server.h"
#include "sim/vxi11_server.h"

namespace benchcap::sim {

using namespace bus::ibsta_bits;

namespace {
// A line longer than this is no command: the connection is closed. With so many
// connections at most, memory stays bounded whatever clients send.
constexpr size_t kLongestLine = 1 << 20;
constexpr size_t kMostConnections = 64;
// Bulk data are read in pieces of this size, so that a paced transfer stops promptly.
constexpr size_t kPiece = 1 << 16;

// The bytes of the instrument's current message still in its output queue (up to its EOI).
size_t messageBytesWaiting(const std::deque<OutputChunk>& queue) {
    size_t n = 0;
    for (const OutputChunk& chunk : queue) {
        n += chunk.remaining();
        if (chunk.eoi)
            break;
    }
    return n;
}

// The length of the definite-length block (IEEE 488.2 8.7.9) `bytes` starts with, header
// included, or 0 when it starts with none.
size_t blockLength(std::string_view bytes) {
    if (bytes.size() < 2 || bytes[0] != '#' || bytes[1] < '1' || bytes[1] > '9')
        return 0;
    const size_t digits = static_cast<size_t>(bytes[1] - '0');
    if (bytes.size() < 2 + digits)
        return 0;
    size_t length = 0;
    for (char c : bytes.substr(2, digits)) {
        if (c < '0' || c > '9')
            return 0;
        length = length * 10 + static_cast<size_t>(c - '0');
    }
    return 2 + digits + length;
}

// One answer, ended by EOI on the bus, as a response message unit on a socket: a block as
// it is, a line of text without its LF, anything else (binary data such as a bitmap, which
// only EOI ended) as a block of its own.
std::string responseUnit(std::string bytes) {
    if (const size_t block = blockLength(bytes);
        block != 0 &&
        (bytes.size() == block || (bytes.size() == block + 1 && bytes.back() == '\n'))) {
        bytes.resize(block);
        return bytes;
    }
    std::string_view text = bytes;
    if (!text.empty() && text.back() == '\n')
        text.remove_suffix(1);
    // Response data in text are 7-bit ASCII without control characters (IEEE 488.2 8.7).
    const bool printable = std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= 0x20 && c < 0x7F) || c == '\t' || c == '\r';
    });
    if (printable && blockLength(text) == 0)
        return std::string(text);
    const std::string length = std::to_string(bytes.size());
    return "#" + std::to_string(length.size()) + length + bytes;
}

}  // namespace

SocketServer::SocketServer(SimBench& bench, int address) : bench_(bench), address_(address) {}

bool SocketServer::answersTo(const std::string& text, std::vector<std::string>& units,
                             bool& complete) {
    // The instrument sees the message as a board delivers it: EOI on the last byte, no LF.
    bench_.ibwrt(ud_, text.data(), static_cast<long>(text.size()));
    SimInstrument* inst = bench_.instrument(0, address_);
    while (inst && !inst->output().empty()) {
        std::string bytes;
        bool ended = false;
        // Exactly the bytes that are there: the bench waits only for their pacing.
        while (const size_t waiting = messageBytesWaiting(inst->output())) {
            const size_t want = std::min(waiting, kPiece);
            const size_t at = bytes.size();
            bytes.resize(at + want);
            const int sta = bench_.ibrd(ud_, bytes.data() + at, static_cast<long>(want));
            const auto got =
                std::min(static_cast<size_t>(std::max(0, bench_.status().ibcntl)), want);
            bytes.resize(at + got);
            if (stopping_)
                return false;
            if (sta & END) {
                ended = true;
                break;
            }
            if (((sta & ERR) && !(sta & TIMO)) || got == 0)
                break;  // a bus error: the instrument gave up its answer
        }
        if (!ended) {
            // An answer that broke off goes as far as it came, without a terminator: the
            // client waits for the rest as it would on the instrument.
            units.push_back(std::move(bytes));
            complete = false;
            return true;
        }
        units.push_back(responseUnit(std::move(bytes)));
    }
    return true;
}

bool SocketServer::message(int fd, const std::string& line) {
    if (ud_ < 0)
        ud_ = bench_.ibdev(0, address_, 0, bus::timeout_codes::T10s, 1, 0);
    if (ud_ < 0)
        return false;
    std::vector<std::string> units;
    bool complete = true;
    const std::vector<std::string> commands = splitCommands(line);
    const bool asksStb = std::any_of(commands.begin(), commands.end(), [](const std::string& c) {
        return parseCommand(c).header == "*STB?";
    });
    if (!asksStb) {
        if (!answersTo(line, units, complete))
            return false;
    } else {
        // "*STB?" is the socket's serial poll: answered here, in its place among the others.
        std::string group;
        for (const std::string& command : commands) {
            if (parseCommand(command).header != "*STB?") {
                group += (group.empty() ? "" : ";") + command;
                continue;
            }
            if (!group.empty() && !answersTo(group, units, complete))
                return false;
            group.clear();
            if (!complete)
                break;
            const SimInstrument* inst = bench_.instrument(0, address_);
            units.push_back(std::to_string(inst ? statusByte(*inst, !units.empty()) : 0));
        }
        if (complete && !group.empty() && !answersTo(group, units, complete))
            return false;
    }
    if (units.empty())
        return true;
    std::string response;
    for (const std::string& unit : units)
        response += (response.empty() ? "" : ";") + unit;
    if (complete)
        response += '\n';
    return sendAll(fd, response);
}

bool SocketServer::sendAll(int fd, const std::string& bytes) {
    return sendAllBytes(fd, bytes, stopping_);
}

void SocketServer::serve(int listenFd) {
    struct Peer {
        int fd;
        std::string in;
    };
    // A paced transfer on a real-time bench ends when the emulator stops.
    bench_.setInterruptCheck([this] { return stopping_.load(); });
    std::vector<Peer> peers;
    std::vector<char> buffer(1 << 16);
    while (!stopping_) {
        std::vector<pollfd> fds{{listenFd, POLLIN, 0}};
        for (const auto& p : peers)
            fds.push_back({p.fd, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), 50) <= 0)
            continue;
        if (fds[0].revents & POLLIN) {
            const int fd = ::accept(listenFd, nullptr, nullptr);
            if (fd >= 0 && peers.size() >= kMostConnections) {
                ::close(fd);
            } else if (fd >= 0) {
                ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
                peers.push_back({fd, {}});
            }
        }
        for (size_t i = 1; i < fds.size(); ++i) {
            if (!fds[i].revents)
                continue;
            Peer& peer = peers[i - 1];
            const ssize_t n = ::read(peer.fd, buffer.data(), buffer.size());
            bool keep = n > 0 || (n < 0 && (errno == EAGAIN || errno == EINTR));
            if (n > 0)
                peer.in.append(buffer.data(), static_cast<size_t>(n));
            size_t used = 0;
            for (size_t lf; keep && (lf = peer.in.find('\n', used)) != std::string::npos;) {
                keep = message(peer.fd, peer.in.substr(used, lf - used));
                used = lf + 1;
            }
            peer.in.erase(0, used);
            if (peer.in.size() > kLongestLine)
                keep = false;
            if (!keep) {
                ::close(peer.fd);
                peer.fd = -1;
            }
        }
        std::erase_if(peers, [](const Peer& p) { return p.fd < 0; });
    }
    for (const auto& p : peers)
        ::close(p.fd);
    bench_.setInterruptCheck({});
}

}  // namespace benchcap::sim
