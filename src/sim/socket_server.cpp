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
// connections at most, each holding one unsent answer at most, memory stays bounded
// whatever clients send.
constexpr size_t kLongestLine = 1 << 20;
constexpr size_t kMostConnections = 128;
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

// Response data in text are 7-bit ASCII without control characters (IEEE 488.2 8.7).
bool printable(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return (c >= 0x20 && c < 0x7F) || c == '\t' || c == '\r'; });
}

}  // namespace

struct SocketServer::Peer {
    int fd = -1;
    std::string in;
    Outbox out;
    int64_t lastActive = 0;
    bool closeWhenSent = false;
};

SocketServer::SocketServer(SimBench& bench, int address, int idleMillis)
    : bench_(bench), address_(address), idleMillis_(idleMillis) {}

bool SocketServer::answersTo(const std::string& text, std::vector<Unit>& units, bool& complete) {
    // The instrument sees the message as a board delivers it: EOI on the last byte, no LF.
    bench_.ibwrt(ud_, text.data(), static_cast<long>(text.size()));
    SimInstrument* inst = bench_.instrument(0, address_);
    while (inst && !inst->output().empty()) {
        std::string bytes;
        bool ended = false;
        bool busError = false;
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
            busError = (sta & ERR) && !(sta & TIMO);
            if (busError || got == 0)
                break;  // the instrument gave up its answer
        }
        if (!ended) {
            // An answer that broke off goes as far as it came, without a terminator: the
            // client waits for the rest as it would on the instrument. A socket cannot
            // carry a bus error: the connection drops, as a LAN instrument's would.
            units.push_back({std::move(bytes), false});
            complete = false;
            return !busError;
        }
        // The instrument's own bytes: an LF it sent ends the unit; text without one gets
        // the socket's LF; binary data without one go as they are.
        if (!bytes.empty() && bytes.back() == '\n') {
            bytes.pop_back();
            units.push_back({std::move(bytes), true});
        } else {
            const bool text = printable(bytes);
            units.push_back({std::move(bytes), text});
        }
    }
    return true;
}

bool SocketServer::message(Peer& peer, const std::string& line) {
    if (ud_ < 0)
        ud_ = bench_.ibdev(0, address_, 0, bus::timeout_codes::T10s, 1, 0);
    if (ud_ < 0)
        return false;
    std::vector<Unit> units;
    bool complete = true;
    bool keep = true;
    const std::vector<std::string> commands = splitCommands(line);
    const bool asksStb = std::any_of(commands.begin(), commands.end(), [](const std::string& c) {
        return parseCommand(c).header == "*STB?";
    });
    if (!asksStb) {
        keep = answersTo(line, units, complete);
    } else {
        // "*STB?" is the socket's serial poll: answered here, in its place among the others.
        std::string group;
        for (const std::string& command : commands) {
            if (parseCommand(command).header != "*STB?") {
                group += (group.empty() ? "" : ";") + command;
                continue;
            }
            if (!group.empty())
                keep = answersTo(group, units, complete);
            group.clear();
            if (!complete || !keep)
                break;
            const SimInstrument* inst = bench_.instrument(0, address_);
            units.push_back({std::to_string(inst ? statusByte(*inst, !units.empty()) : 0), true});
        }
        if (complete && keep && !group.empty())
            keep = answersTo(group, units, complete);
    }
    std::string response;
    bool open = false;  // a text unit waits for its LF
    for (const Unit& unit : units) {
        if (unit.text) {
            response += (open ? ";" : "") + unit.bytes;
        } else {
            response += (open ? "\n" : "") + unit.bytes;
        }
        open = unit.text;
    }
    if (open && complete)
        response += '\n';
    peer.out.add(response);
    return keep;
}

void SocketServer::serve(int listenFd) {
    // A paced transfer on a real-time bench ends when the emulator stops.
    bench_.setInterruptCheck([this] { return stopping_.load(); });
    ::fcntl(listenFd, F_SETFL, ::fcntl(listenFd, F_GETFL) | O_NONBLOCK);
    std::vector<std::unique_ptr<Peer>> peers;
    std::vector<char> buffer(1 << 16);
    auto close = [](Peer& p) {
        ::close(p.fd);
        p.fd = -1;
    };
    while (!stopping_) {
        std::vector<pollfd> fds{{listenFd, POLLIN, 0}};
        // A client with an answer still to take is not read from: what it sends meanwhile
        // stays in the kernel's buffers, not in ours.
        for (const auto& p : peers)
            fds.push_back({p->fd, static_cast<short>(p->out.empty() ? POLLIN : POLLOUT), 0});
        const int ready = ::poll(fds.data(), fds.size(), 50);
        const int64_t now = steadyMillisNow();
        for (size_t i = 1; ready > 0 && i < fds.size(); ++i) {
            Peer& peer = *peers[i - 1];
            if (!fds[i].revents)
                continue;
            if (!peer.out.empty()) {
                const ssize_t took = peer.out.flush(peer.fd);
                if (took > 0)
                    peer.lastActive = now;
                if (took < 0 || (peer.out.empty() && peer.closeWhenSent))
                    close(peer);
                continue;
            }
            const ssize_t n = ::read(peer.fd, buffer.data(), buffer.size());
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
                close(peer);
                continue;
            }
            if (n > 0) {
                peer.in.append(buffer.data(), static_cast<size_t>(n));
                peer.lastActive = now;
            }
        }
        // One message of each client at a time; the next when its answer has gone.
        for (auto& p : peers) {
            size_t lf = 0;
            while (p->fd >= 0 && p->out.empty() && !p->closeWhenSent &&
                   (lf = p->in.find('\n')) != std::string::npos) {
                const std::string line = p->in.substr(0, lf);
                p->in.erase(0, lf + 1);
                p->closeWhenSent = !message(*p, line);
                p->lastActive = steadyMillisNow();  // the conversation may have taken long
                if (p->out.flush(p->fd) < 0 || (p->out.empty() && p->closeWhenSent))
                    close(*p);
            }
            if (p->fd >= 0 && (p->in.size() > kLongestLine || now - p->lastActive >= idleMillis_))
                close(*p);
        }
        std::erase_if(peers, [](const auto& p) { return p->fd < 0; });
        for (int fd; ready > 0 && (fd = ::accept4(listenFd, nullptr, nullptr,
                                                  SOCK_NONBLOCK | SOCK_CLOEXEC)) >= 0;) {
            if (peers.size() >= kMostConnections) {
                // The longest-idle client makes room: idle ones cannot lock the others out.
                auto idlest = std::min_element(peers.begin(), peers.end(), [](auto& a, auto& b) {
                    return a->lastActive < b->lastActive;
                });
                ::close((*idlest)->fd);
                peers.erase(idlest);
            }
            auto peer = std::make_unique<Peer>();
            peer->fd = fd;
            peer->lastActive = now;
            peers.push_back(std::move(peer));
        }
    }
    for (const auto& p : peers)
        ::close(p->fd);
    bench_.setInterruptCheck({});
}

}  // namespace benchcap::sim
