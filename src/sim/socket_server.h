#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "sim/sim_bench.h"

namespace benchcap::sim {

// One instrument of the simulated bench as a LAN instrument with a raw SCPI socket (as on
// port 5025). A socket has neither EOI nor a serial poll, so the emulator answers as such
// an instrument does: every line the client sends (up to LF) is one message; its answers
// go back as one response message (IEEE 488.2 8.4: the units of a compound query joined
// by ';', one LF at the end); an answer that is neither a block nor a line of text (binary
// data that only EOI ends on the bus) goes as a definite-length block ("#NLLL..."), so the
// client knows where it ends; "*STB?" is answered with the status byte. Bulk data flow at
// the bench's rates on its clock. Serves any number of connections, one message at a time,
// until stop().
class SocketServer {
  public:
    SocketServer(SimBench& bench, int address);
    // Serves on the listening socket `listenFd` (not closed).
    void serve(int listenFd);
    // Makes serve() return within a tenth of a second (from any thread); a paced transfer
    // of the bench stops too.
    void stop() { stopping_ = true; }

  private:
    bool message(int fd, const std::string& line);
    // The instrument's answers to `text` (one message to it), as response message units.
    bool answersTo(const std::string& text, std::vector<std::string>& units, bool& complete);
    bool sendAll(int fd, const std::string& bytes);

    SimBench& bench_;
    int address_;
    int ud_ = -1;
    std::atomic<bool> stopping_{false};
};

}  // namespace benchcap::sim
