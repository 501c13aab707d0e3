#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "sim/adapter_server.h"
#include "sim/sim_bench.h"

namespace benchcap::sim {

// One instrument of the simulated bench as a LAN instrument with a raw SCPI socket (as on
// port 5025). A socket has neither EOI nor a serial poll, so the emulator answers as such
// an instrument does: every line the client sends (up to LF) is one message; its answers
// go back as one response message (IEEE 488.2 8.4: the units of a compound query joined
// by ';', one LF at the end). Every answer goes exactly as the instrument sent it: text and
// blocks (broken ones too) with that LF, binary data that only EOI ended on the bus (a raw
// picture) as they are, for the client to read to their end; an answer that broke off goes
// as far as it came, and a bus error closes the connection after it. "*STB?" is answered
// with the status byte. Bulk data flow at the bench's rates on its clock.
//
// Clients are served side by side, one instrument conversation at a time: answers go out
// as each client takes them, so one that does not read holds up no other, and a
// connection that moves no byte for `idleMillis` is closed (a client asked for an answer
// it never takes too). When all places are taken, the longest-idle connection gives its
// place to a new one. Serves until stop().
class SocketServer {
  public:
    SocketServer(SimBench& bench, int address, int idleMillis = kDefaultIdleMillis);
    // Serves on the listening socket `listenFd` (not closed).
    void serve(int listenFd);
    // Makes serve() return within a tenth of a second (from any thread); a paced transfer
    // of the bench stops too.
    void stop() { stopping_ = true; }

  private:
    struct Peer;
    struct Unit {
        std::string bytes;
        bool text = true;  // without its LF, joined to the others by ';'
    };
    // Answers one message: false when the connection must close after its answer.
    bool message(Peer& peer, const std::string& line);
    // The instrument's answers to `text` (one message to it), as response message units;
    // false when the bus failed.
    bool answersTo(const std::string& text, std::vector<Unit>& units, bool& complete);

    SimBench& bench_;
    int address_;
    int idleMillis_;
    int ud_ = -1;
    std::atomic<bool> stopping_{false};
};

}  // namespace benchcap::sim
