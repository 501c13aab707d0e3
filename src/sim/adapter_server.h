#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "base/result.h"
#include "sim/sim_bench.h"

namespace benchcap::sim {

// An adapter or gateway that is off for a while (unplugged, rebooting): while it lasts, the
// server drops its connections and closes new ones at once. Set from any thread.
class Outage {
  public:
    void begin(int millis) { untilMillis_ = steadyMillis() + millis; }
    bool active() const { return steadyMillis() < untilMillis_; }

  private:
    static int64_t steadyMillis() {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    std::atomic<int64_t> untilMillis_{0};
};

// A "++" GPIB adapter (Prologix GPIB-ETHERNET / GPIB-USB behaviour, as their manuals
// describe it) in front of the simulated bench, for demos and tests of the adapter driver:
// lines end at unescaped CR or LF, ESC takes the next byte as data, "++" starts a command;
// data lines go to the addressed instrument with the ++eos terminator and EOI as ++eoi
// says; "++read" reads until EOI, a character or the ++read_tmo_ms time-out and appends
// ++eot_char on EOI when ++eot_enable is on; "++spoll" answers only for an instrument
// that is there; device mode (++mode 0) passes on what an instrument sends to its address.
// Settings are reset for every connection, like an adapter that is switched on.
class AdapterServer {
  public:
    explicit AdapterServer(SimBench& bench, std::string version =
                                                "Prologix GPIB-ETHERNET Controller version "
                                                "01.06.06.00 (Benchcap emulator)");

    // Serves one connection on `fd` (a socket or a pseudo-terminal master) until the peer
    // closes it or stop() is called. Does not close `fd`.
    void serveConnection(int fd);
    // Accepts and serves connections one after another on a listening socket until stop().
    void serveListener(int listenFd);
    // Makes the serve calls return within a tenth of a second (from any thread).
    void stop() { stopping_ = true; }
    bool stopping() const { return stopping_; }
    // Switched off for `millis` of real time: serveConnection returns within a tenth of a
    // second (serveListener then closes the connection) and serveListener closes the
    // connections made meanwhile at once.
    void switchOffFor(int millis) { outage_.begin(millis); }

  private:
    struct Settings {
        int address = 10;
        bool autoRead = false;
        bool eoi = true;
        int eos = 0;  // 0 CR LF, 1 CR, 2 LF, 3 none
        bool eotEnable = false;
        int eotChar = 0;
        int readMillis = 500;
        bool controller = true;
        int status = 0;
        // The instrument's key press in device mode gives one plot; the next needs the
        // mode entered again.
        bool plotTaken = false;
        std::string held;         // device mode: the message for the instrument, not read yet
        bool listenOnly = false;  // ++lon: device mode hears every talker
    };
    // A "++" command as its handler sees it: the argument, blanks trimmed, and its number.
    struct Command;
    using Handler = std::function<bool(AdapterServer&, const Command&)>;
    // The "++" commands by name (without "++").
    static const std::map<std::string, Handler>& commands();
    bool handleCommand(int fd, const std::string& text);
    // A setting's query (no argument) or change (ignored when out of range).
    bool flag(const Command& c, bool Settings::*field);
    bool setting(const Command& c, int Settings::*field, int low, int high);
    bool setAddress(const Command& c);
    bool setMode(const Command& c);
    bool serialPoll(const Command& c);
    bool handleData(int fd, const std::string& data);
    bool readFromInstrument(int fd, const std::string& how);
    bool reply(int fd, const std::string& text);
    bool sendAll(int fd, const std::string& bytes);
    bool pumpDeviceMode(int fd);
    void pause(int millis);
    int handle(int address);

    SimBench& bench_;
    std::string version_;
    std::atomic<bool> stopping_{false};
    Outage outage_;
    Settings settings_;
    std::map<int, int> handles_;  // address -> descriptor on the bench
};

// A listening TCP socket on `host:port` (port 0: any free one); the port actually bound.
struct Listener {
    int fd = -1;
    int port = 0;
};
Result<Listener> listenTcp(const std::string& host, int port);
// Sends all of `bytes` on `fd` (a socket, or a pseudo-terminal's master), waiting while the
// peer is slow to take them; false when the peer is gone or `stopping` was set first.
bool sendAllBytes(int fd, const std::string& bytes, const std::atomic<bool>& stopping);

// A pseudo-terminal for the serial path: the master for the server and the path of the
// slave end ("/dev/pts/N"), set to raw mode. The slave stays open in `keepSlaveFd` so
// that the master does not see a hang-up between clients.
struct PseudoTerminal {
    int masterFd = -1;
    int keepSlaveFd = -1;
    std::string slavePath;
};
Result<PseudoTerminal> openPseudoTerminal();

}  // namespace benchcap::sim
