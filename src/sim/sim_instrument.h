#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/bench_config.h"

namespace benchcap::bus {
class Clock;
}

namespace benchcap::sim {

// Bytes an instrument has ready to send. Each chunk is one piece of a message; a chunk
// with `eoi` ends the message (EOI on its last byte). A chunk without EOI at the end of
// the queue is an answer that stopped half way: a read past it times out.
struct OutputChunk {
    std::string bytes;
    bool eoi = true;
    // Bytes already read: a read moves this mark instead of erasing from the front, so a
    // large answer read in small pieces costs linear time.
    std::size_t offset = 0;
    // Bulk data (blocks, pictures, plots) flow at this rate (bytes per second, 0: at once).
    double bytesPerSecond = 0;
    // The read that reaches this byte ends with a bus error (ERR, EBUS); the instrument
    // gives up the rest of its answer.
    std::optional<std::size_t> busErrorAt = std::nullopt;
    // Bench time the answer is ready to be read (a sweep that outlasts the read's time-out);
    // until then a read waits for it and a new message does not discard it.
    int64_t readyAtMicros = 0;

    std::size_t remaining() const { return bytes.size() - offset; }
};

// A SCPI command as the instrument received it: the header (upper-cased, for matching)
// and the argument text after it.
struct Command {
    std::string header;  // e.g. "MMEM:DATA?", "*IDN?", "HCOPY:DEV:LANG"
    std::string args;    // e.g. "'C:\HARDCOPY.WMF'", "WMF" (surrounding blanks removed)
    std::string raw;     // the command exactly as received
};

// A simulated instrument on the bus. It receives whole messages (the bytes up to EOI),
// splits them into commands at ';' outside quotes and runs the handler registered for
// each header; answers go into its output queue, which the bench reads from.
// Unknown commands are ignored, as a real instrument would (it queues an error and
// sends nothing, so a query it does not know lets the read time out).
class SimInstrument {
  public:
    using Handler = std::function<void(const Command&)>;

    SimInstrument(InstrumentConfig config, bus::Clock& clock);
    virtual ~SimInstrument() = default;
    SimInstrument(const SimInstrument&) = delete;
    SimInstrument& operator=(const SimInstrument&) = delete;

    const InstrumentConfig& config() const { return config_; }
    int address() const { return config_.address; }
    bus::Clock& clock() const { return clock_; }

    // Registers a handler for a command header, matched without regard to case. A header
    // ending in '?' is a query. Later registrations replace earlier ones.
    void on(const std::string& header, Handler handler);

    // Answers: text with a line feed and EOI; raw bytes; an IEEE 488.2 definite-length block
    // ("#", digit count, length, data, line feed) with the configured faults applied.
    void respond(std::string_view text);
    void respondRaw(std::string bytes, bool eoi = true);
    void respondBlock(std::string_view data);
    // Bulk bytes (a picture, a plot) with the instrument's rate and bus fault applied;
    // `dataStart` is where the counted data begin (after a block header).
    void respondBulk(std::string bytes, bool eoi, std::size_t dataStart = 0);

    // Instrument error queue (answered by "SYST:ERR?"), at most kErrorQueueLength entries.
    static constexpr std::size_t kErrorQueueLength = 32;
    void pushError(int code, const std::string& text);
    const std::vector<std::string>& errors() const { return errors_; }

    // --- bus side, used by the bench ---
    virtual bool listens() const { return true; }
    void receiveMessage(std::string_view message);
    std::deque<OutputChunk>& output() { return output_; }
    const std::deque<OutputChunk>& output() const { return output_; }
    virtual void onInterfaceClear() {}
    virtual void onGoToLocal() {}

    // Talking without a controller's command (an instrument that plots to a plotter
    // address): when a board waits as listener at `listenerAddress`, how long after the
    // wait began the instrument starts talking (nullopt: it never does). beginTalking()
    // then fills the output queue.
    virtual std::optional<int64_t> talkDelayMicros(int listenerAddress) const;
    static constexpr int kAnyListener = -1;  // a listen-only board
    virtual void beginTalking() {}
    // An instrument that asks the plotter something (an output instruction) addresses the
    // board to talk once it has sent the question; the board's bytes then come here.
    virtual bool awaitsAnswer() const { return false; }
    virtual void answerFromBoard(std::string_view /*bytes*/) {}

    // Messages received so far (for fault keys that count them).
    int commandsAnswered() const { return commandsAnswered_; }

  protected:
    // For kinds that answer nothing at all.
    void removeAllHandlers() { handlers_.clear(); }
    // Hook for kinds that answer commands no handler took.
    virtual bool unhandled(const Command&) { return false; }

  private:
    void dispatch(std::string_view command);

    InstrumentConfig config_;
    bus::Clock& clock_;
    std::vector<std::pair<std::string, Handler>> handlers_;
    std::deque<OutputChunk> output_;
    std::vector<std::string> errors_;
    int commandsAnswered_ = 0;
    // Fault keys common to every kind.
    std::optional<int64_t> blockCutAfter_;
    std::optional<std::string> blockHeader_;
    std::optional<int> silentAfter_;
    int64_t silentFrom_ = -1;  // bench-clock microseconds; -1: never deaf
    int64_t silentUntil_ = -1;
    std::optional<int64_t> busErrorAfter_;
    int64_t lateFrom_ = -1;  // bulk answers asked for in [lateFrom_, lateUntil_) come late
    int64_t lateUntil_ = -1;
    int64_t lateByMicros_ = 0;
    double bytesPerSecond_ = 0;
};

// Splits a message into commands at ';' outside single or double quotes.
std::vector<std::string> splitCommands(std::string_view message);
// Parses one command into header (upper-cased) and argument text.
Command parseCommand(std::string_view command);

}  // namespace benchcap::sim
