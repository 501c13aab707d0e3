#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/result.h"

struct addrinfo;

namespace benchcap::bus::adapter {

// A byte stream to a "++" adapter: a TCP connection or a serial line. Every call is bounded
// by a time-out, so a silent or unplugged adapter never hangs the program.
class Transport {
  public:
    virtual ~Transport() = default;
    // Sends every byte or fails (the connection is then dead).
    virtual Status send(const std::string& bytes, int timeoutMillis) = 0;
    // Appends what arrives within `timeoutMillis` (at least one byte, unless the time runs
    // out: then nothing and success). A closed or broken connection is a failure.
    virtual Status receive(std::string& into, int timeoutMillis) = 0;
    // Throws away bytes already waiting (answers to an earlier, abandoned transaction).
    virtual void drain() = 0;
    // "127.0.0.1:1234" or "/dev/ttyUSB0", for messages.
    virtual std::string name() const = 0;
};

// Where an adapter is: "HOST[:PORT]" (TCP, port 1234 by default; an IPv6 literal in
// brackets, "[::1]:1234") or a device path starting with '/' (serial line).
struct AdapterAddress {
    std::string host;  // empty for a serial line
    int port = 1234;
    std::string device;  // serial device path
    std::string text() const {
        if (!device.empty())
            return device;
        const bool ipv6 = host.find(':') != std::string::npos;
        return (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
    }
};
Result<AdapterAddress> parseAdapterAddress(const std::string& text);

// Waits for a TCP connection in progress: ok when it settled (connected, or refused: the
// socket says which); a failure of kind NotReachable when this address gave no answer (the
// next is tried); any other failure gives up (a deadline passed, a stop request).
using ConnectWait = std::function<Status(int fd)>;
// Connects to each address of host:port in turn, non-blocking, with Nagle off; `wait` bounds
// each connection in progress. Failures read "<unresolved>HOST: ..." or
// "cannot connect to WHERE: ...".
// The connection part alone, over addresses already looked up: the socket, or "cannot
// connect to WHERE: ..." (of kind NotReachable, or the kind the wait gave up with).
Result<int> connectFirst(const addrinfo* list, const std::string& where, const ConnectWait& wait);
Result<std::unique_ptr<Transport>> dialTcp(const std::string& host, int port,
                                           const std::string& where, const std::string& unresolved,
                                           const ConnectWait& wait);

Result<std::unique_ptr<Transport>> connectTcp(const std::string& host, int port, int timeoutMillis);
// Opens a serial device in raw mode (8N1, no flow control, 115200 Bd; a USB adapter's
// virtual COM port ignores the rate).
Result<std::unique_ptr<Transport>> openSerial(const std::string& device);
Result<std::unique_ptr<Transport>> openTransport(const AdapterAddress& address, int timeoutMillis);

// A transport over a file descriptor that is already open (a socket, a tty, one end of a
// socket pair); it closes the descriptor when destroyed.
std::unique_ptr<Transport> fdTransport(int fd, std::string name);

}  // namespace benchcap::bus::adapter
