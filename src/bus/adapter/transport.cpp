#include "bus/adapter/transport.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>

namespace benchcap::bus::adapter {

namespace {

int64_t nowMillis() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

class FdTransport final : public Transport {
  public:
    FdTransport(int fd, std::string name) : fd_(fd), name_(std::move(name)) {}
    ~FdTransport() override {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FdTransport(const FdTransport&) = delete;
    FdTransport& operator=(const FdTransport&) = delete;

    Status send(const std::string& bytes, int timeoutMillis) override {
        size_t done = 0;
        const int64_t deadline = nowMillis() + timeoutMillis;
        while (done < bytes.size()) {
            const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, kSendFlags);
            if (n < 0 && errno == ENOTSOCK) {
                kSendFlags = 0;
                const ssize_t w = ::write(fd_, bytes.data() + done, bytes.size() - done);
                if (w > 0) {
                    done += static_cast<size_t>(w);
                    continue;
                }
                if (w < 0 && errno != EAGAIN && errno != EINTR)
                    return fail(std::strerror(errno));
            } else if (n > 0) {
                done += static_cast<size_t>(n);
                continue;
            } else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                return fail(std::strerror(errno));
            }
            const int64_t left = deadline - nowMillis();
            if (left <= 0)
                return fail("the adapter takes no more data (sending timed out)");
            pollfd p{fd_, POLLOUT, 0};
            ::poll(&p, 1, static_cast<int>(left));
        }
        return {};
    }

    Status receive(std::string& into, int timeoutMillis) override {
        pollfd p{fd_, POLLIN, 0};
        const int r = ::poll(&p, 1, timeoutMillis < 0 ? 0 : timeoutMillis);
        if (r < 0)
            return errno == EINTR ? Status{} : Status{fail(std::strerror(errno))};
        if (r == 0)
            return {};
        char buffer[65536];
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n > 0) {
            into.append(buffer, static_cast<size_t>(n));
            return {};
        }
        if (n == 0)
            return fail("the adapter closed the connection");
        if (errno == EAGAIN || errno == EINTR)
            return {};
        return fail(std::strerror(errno));
    }

    void drain() override {
        std::string junk;
        for (int i = 0; i < 64; ++i) {
            const size_t before = junk.size();
            if (!receive(junk, 0) || junk.size() == before)
                return;
        }
    }

    std::string name() const override { return name_; }

  private:
    int fd_;
    std::string name_;
    int kSendFlags = MSG_NOSIGNAL;  // a dropped connection must not kill the program
};

}  // namespace

std::unique_ptr<Transport> fdTransport(int fd, std::string name) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    return std::make_unique<FdTransport>(fd, std::move(name));
}

Result<AdapterAddress> parseAdapterAddress(const std::string& text) {
    AdapterAddress a;
    if (text.empty())
        return fail("no adapter given: use prologix:HOST[:PORT] or prologix:/dev/ttyUSB0");
    if (text.front() == '/') {
        a.device = text;
        return a;
    }
    // An IPv6 literal is written in brackets ("[::1]:1234", "[fe80::1]"); one without them
    // and without a port has several colons and no port.
    size_t colon = text.rfind(':');
    if (text.front() == '[') {
        const size_t close = text.find(']');
        if (close == std::string::npos || text.find(':') > close ||
            (close + 1 < text.size() && text[close + 1] != ':'))
            return fail("an IPv6 adapter address is written [ADDRESS] or [ADDRESS]:PORT, not '" +
                        text + "'");
        a.host = text.substr(1, close - 1);
        colon = close + 1 < text.size() ? close + 1 : std::string::npos;
    } else if (text.find(':') != colon) {
        a.host = text;
        colon = std::string::npos;
    } else {
        a.host = text.substr(0, colon);
    }
    if (colon != std::string::npos) {
        const std::string port = text.substr(colon + 1);
        int value = 0;
        const auto [ptr, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
        if (ec != std::errc() || ptr != port.data() + port.size() || value < 1 || value > 65535)
            return fail("adapter port must be a number from 1 to 65535, not '" + port + "'");
        a.port = value;
    }
    if (a.host.empty())
        return fail("no adapter host given in '" + text + "'");
    if (a.host.find_first_of("[]") != std::string::npos)
        return fail("'" + a.host + "' is no adapter host name or address");
    return a;
}

Result<int> connectFirst(const addrinfo* list, const std::string& where, const ConnectWait& wait) {
    std::string lastError = "no address";
    for (const addrinfo* ai = list; ai; ai = ai->ai_next) {
        const int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                                ai->ai_protocol);
        if (fd < 0) {
            lastError = std::strerror(errno);
            continue;
        }
        int rc = ::connect(fd, ai->ai_addr, ai->ai_addrlen);
        if (rc < 0 && errno == EINPROGRESS) {
            const Status waited = wait(fd);
            if (!waited) {
                ::close(fd);
                if (waited.errorKind() == ErrorKind::NotReachable) {
                    lastError = waited.error();
                    continue;
                }
                return fail(waited.errorKind(),
                            "cannot connect to " + where + ": " + waited.error());
            }
            int err = 0;
            socklen_t len = sizeof err;
            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
            rc = err == 0 ? 0 : -1;
            errno = err;
        }
        if (rc != 0) {
            lastError = std::strerror(errno);
            ::close(fd);
            continue;
        }
        // Commands are short; waiting to fill a segment would only add latency.
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        return fd;
    }
    return fail(ErrorKind::NotReachable, "cannot connect to " + where + ": " + lastError);
}

Result<std::unique_ptr<Transport>> dialTcp(const std::string& host, int port,
                                           const std::string& where, const std::string& unresolved,
                                           const ConnectWait& wait) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (int rc = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list);
        rc != 0) {
        return fail(ErrorKind::NotReachable, unresolved + host + ": " + ::gai_strerror(rc));
    }
    const Result<int> fd = connectFirst(list, where, wait);
    ::freeaddrinfo(list);
    if (!fd)
        return fd.failure();
    return fdTransport(*fd, where);
}

Result<std::unique_ptr<Transport>> connectTcp(const std::string& host, int port,
                                              int timeoutMillis) {
    return dialTcp(
        host, port, AdapterAddress{host, port, {}}.text(), "cannot resolve adapter host ",
        [timeoutMillis](int fd) {
            pollfd p{fd, POLLOUT, 0};
            if (::poll(&p, 1, timeoutMillis) == 0)
                return Status(fail(ErrorKind::NotReachable,
                                   "no answer within " + std::to_string(timeoutMillis) + " ms"));
            return Status();
        });
}

Result<std::unique_ptr<Transport>> openSerial(const std::string& device) {
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return fail("cannot open " + device + ": " + std::strerror(errno));
    termios t{};
    if (::tcgetattr(fd, &t) != 0) {
        const std::string why = std::strerror(errno);
        ::close(fd);
        return fail(device + " is not a serial line: " + why);
    }
    // Raw: no echo, no line editing, no CR/LF translation, 8 bits through unchanged.
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | CRTSCTS);
    ::cfsetispeed(&t, B115200);
    ::cfsetospeed(&t, B115200);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (::tcsetattr(fd, TCSANOW, &t) != 0) {
        const std::string why = std::strerror(errno);
        ::close(fd);
        return fail("cannot set " + device + " to raw mode: " + why);
    }
    ::tcflush(fd, TCIOFLUSH);
    return fdTransport(fd, device);
}

Result<std::unique_ptr<Transport>> openTransport(const AdapterAddress& address, int timeoutMillis) {
    if (!address.device.empty())
        return openSerial(address.device);
    return connectTcp(address.host, address.port, timeoutMillis);
}

}  // namespace benchcap::bus::adapter
