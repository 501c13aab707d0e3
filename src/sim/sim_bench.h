#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bus/clock.h"
#include "bus/driver_base.h"
#include "sim/bench_config.h"
#include "sim/sim_instrument.h"

namespace benchcap::sim {

// What happened on the simulated bus, in order; tests assert command sequences on it.
enum class Traffic {
    Open,        // ibdev: value = time-out code
    Write,       // ibwrt: data = the bytes written
    Read,        // ibrd: data = the bytes read (first 256), value = byte count
    ReadToFile,  // ibrdf: data = file name, value = byte count
    Timeout,     // a read or wait that ran into its time-out: value = code
    Ifc,         // SendIFC (address -1: board level)
    Ren,         // ibsre: value = 0 or 1 (board level)
    SetTimeout,  // ibtmo / ibconfig(TMO): value = new code
    GoToLocal,   // ibloc
    Online,      // ibonl: value = 0 or 1
    Config,      // ibconfig / ibpad / ibrsc: data = option number, value = value
    Wait,        // ibwait: value = resulting status word
    Clear,       // ibclr (Selected Device Clear)
};

struct TrafficEntry {
    int64_t timeMicros = 0;
    int board = 0;
    int address = -1;  // primary address of the device, -1 for board-level events
    Traffic kind = Traffic::Write;
    std::string data;
    int value = 0;
};

// The simulated bench: virtual boards "GPIB0" to "GPIB9" (those listed in the bench) and
// virtual instruments at primary addresses 1 to 30, behind the same driver interface as
// the real library, with the driver's semantics: EOI on writes, reads that fill a buffer
// and set the counts, ENOL when nobody listens, TIMO after the handle's time-out, IFC, REN.
//
// Board descriptors are the board indices 0..9 (as NI-488.2 accepts board indices for
// board-level calls); device descriptors start at 32.
class SimBench final : public bus::DriverBase {
  public:
    SimBench(const BenchConfig& config, std::shared_ptr<bus::Clock> clock);
    ~SimBench() override;

    int ibdev(int board, int pad, int sad, int tmo, int eot, int eos) override;
    int ibfind(const std::string& name) override;
    int ibwrt(int ud, const void* data, long count) override;
    int ibrd(int ud, void* buffer, long count) override;
    int ibrdf(int ud, const std::string& fileName) override;
    int ibonl(int ud, int online) override;
    int ibsre(int ud, int value) override;
    int ibwait(int ud, int mask) override;
    int ibloc(int ud) override;
    int ibclr(int ud) override;
    int ibconfig(int ud, int option, int value) override;
    void SendIFC(int board) override;

    // --- for tests and demos ---
    bus::Clock& clock() { return *clock_; }
    std::shared_ptr<bus::Clock> sharedClock() const { return clock_; }
    // The latest calls, at most kTrafficLimit of them (a long run keeps the newer ones).
    const std::vector<TrafficEntry>& traffic() const { return traffic_; }
    static constexpr std::size_t kTrafficLimit = 1 << 17;
    void clearTraffic() { traffic_.clear(); }
    // The bytes of every write to `address`, in order.
    std::vector<std::string> writesTo(int address) const;
    int count(Traffic kind, int address = -2) const;  // -2: any address
    SimInstrument* instrument(int board, int address);
    bool boardPresent(int board) const;
    // A board in listen-only mode (as a "++" adapter's ++lon) hears instruments in talk-only
    // mode, which plot to nobody's address (kAnyListener).
    void setBoardListenOnly(int board, bool on);

  private:
    struct Board {
        bool present = false;
        bool online = true;
        SimInstrument* talker = nullptr;  // instrument addressed to talk to the board
        bool listenOnly = false;          // hears an instrument that addresses nobody
    };

    bool isBoard(int ud) const override { return boardPresent(ud); }
    Board* board(int ud);
    int readFrom(SimInstrument* inst, int boardIndex, int address, char* out, long count,
                 int tmoCode, int eosMode, long* got);
    // Sleeps on the bench's clock in short slices, asking interruptRequested() between
    // them; false when a stop request ended the pause.
    bool pause(int64_t micros, long bytes = 0);
    void log(int board, int address, Traffic kind, std::string data = {}, int value = 0);

    std::shared_ptr<bus::Clock> clock_;
    std::array<Board, 10> boards_;
    std::vector<std::unique_ptr<SimInstrument>> instruments_;
    std::map<std::pair<int, int>, SimInstrument*> byAddress_;
    std::map<std::pair<int, int>, std::string> pendingInput_;  // writes without EOI yet
    std::vector<TrafficEntry> traffic_;
};

}  // namespace benchcap::sim
