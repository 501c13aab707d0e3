#include "sim/socket_server.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

namespace benchcap::sim {

using namespace bus::ibsta_bits;

namespace {
// A line longer than this is no command: the connection is closed.
constexpr size_t kLongestLine = 1 << 20;
}  // namespace

SocketServer::SocketServer(SimBench& bench, int address) : bench_(bench), address_(address) {}

bool SocketServer::message(int fd, const std::string& line) {
    if (ud_ < 0)
        ud_ = bench_.ibdev(0, address_, 0, bus::timeout_codes::T10s, 1, 0);
    if (ud_ < 0)
        return false;
    // The instrument sees the message as a board delivers it: EOI on the last byte, no LF.
    bench_.ibwrt(ud_, line.data(), static_cast<long>(line.size()));
    if (line.find('?') == std::string::npos)
        return true;
    std::string chunk(1 << 16, '\0');
    for (;;) {
        const int sta = bench_.ibrd(ud_, chunk.data(), static_cast<long>(chunk.size()));
        const auto got = static_cast<size_t>(std::max(0, bench_.status().ibcntl));
        size_t sent = 0;
        while (sent < got && !stopping_) {
            const ssize_t n = ::send(fd, chunk.data() + sent, got - sent, MSG_NOSIGNAL);
            if (n > 0) {
                sent += static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                return false;
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 50);
        }
        if (stopping_)
            return false;
        if (sta & (END | ERR | TIMO) || got == 0)
            return true;
    }
}

void SocketServer::serve(int listenFd) {
    struct Peer {
        int fd;
        std::string in;
    };
    std::vector<Peer> peers;
    char buffer[65536];
    while (!stopping_) {
        std::vector<pollfd> fds{{listenFd, POLLIN, 0}};
        for (const auto& p : peers)
            fds.push_back({p.fd, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), 50) <= 0)
            continue;
        if (fds[0].revents & POLLIN) {
            const int fd = ::accept(listenFd, nullptr, nullptr);
            if (fd >= 0) {
                ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
                peers.push_back({fd, {}});
            }
        }
        for (size_t i = 1; i < fds.size(); ++i) {
            if (!fds[i].revents)
                continue;
            Peer& peer = peers[i - 1];
            const ssize_t n = ::read(peer.fd, buffer, sizeof buffer);
            bool keep = n > 0 || (n < 0 && (errno == EAGAIN || errno == EINTR));
            if (n > 0)
                peer.in.append(buffer, static_cast<size_t>(n));
            for (size_t lf; keep && (lf = peer.in.find('\n')) != std::string::npos;) {
                const std::string line = peer.in.substr(0, lf);
                peer.in.erase(0, lf + 1);
                keep = message(peer.fd, line);
            }
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
}

}  // namespace benchcap::sim
