#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "base/result.h"
#include "bus/adapter/transport.h"
#include "bus/driver_base.h"

namespace benchcap::bus::adapter {

// Timing of the conversation with an adapter.
struct PrologixOptions {
    int connectMillis = 3000;
    // How long the answer to "++ver" may take (an AR488 on USB restarts when the port opens).
    int versionMillis = 2500;
    // The adapter's own read time-out ceiling (++read_tmo_ms accepts 1..3000); longer
    // time-outs are made of repeated reads.
    int adapterMaxReadMillis = 3000;
    // Beyond the adapter's read time-out: how long its silence must last before the read
    // counts as timed out there (transport latency).
    int slackMillis = 200;
    // After the end-of-transmission mark: silence that confirms it ended the message and
    // was not a data byte of the same value.
    int quietMillis = 15;
    // Probe each new address with a serial poll before the first write, so that a write to
    // an empty address fails with ENOL as on a board.
    bool listenerProbe = true;
    // The longest message read from one instrument: the largest block the program accepts
    // (nine length digits) with its header and final line feed. An adapter that streams on
    // without an end is stopped there.
    int64_t maxMessageBytes = 11 + 999'999'999 + 1;
};

// GPIB through a "++" adapter (Prologix GPIB-USB / GPIB-ETHERNET, AR488) behind the
// NI-488.2 call set. The adapter is board 0 ("GPIB0"); device descriptors start at 32.
//
// Reads use "++read eoi" with the end-of-transmission character appended by the adapter on
// EOI; a time-out longer than the adapter allows is made of repeated reads. As on a board,
// the handle's time-out bounds the whole call, and a read hands over at most the caller's
// count: the rest of the message stays with the connection for the next read, so memory
// stays flat whatever the adapter sends. Every wait asks interruptRequested() at least
// every 100 ms. Status words are filled as a board fills them: TIMO on silence, END on
// EOI, exact counts. A lost connection fails the call with EDVR and names the adapter
// (lastProblem()); the next call connects again.
class PrologixDriver final : public DriverBase {
  public:
    using Connector = std::function<Result<std::unique_ptr<Transport>>()>;

    explicit PrologixDriver(AdapterAddress address, PrologixOptions options = {});
    // For tests: any transport, named `adapterName` in messages.
    PrologixDriver(Connector connect, std::string adapterName, PrologixOptions options = {});
    ~PrologixDriver() override;

    int ibdev(int board, int pad, int sad, int tmo, int eot, int eos) override;
    int ibfind(const std::string& name) override;
    int ibwrt(int ud, const void* data, long count) override;
    int ibrd(int ud, void* buffer, long count) override;
    int ibonl(int ud, int online) override;
    int ibsre(int ud, int value) override;
    int ibwait(int ud, int mask) override;
    int ibloc(int ud) override;
    int ibclr(int ud) override;
    int ibconfig(int ud, int option, int value) override;
    void SendIFC(int board) override;
    std::string unavailableReason() const override;

    // Connects now if not connected; fails with the reason naming the adapter.
    Status connect();
    // Listen-only ("++lon"): in device mode the adapter hears everything on the bus, also
    // from an instrument in talk-only mode that addresses nobody. Ends with device mode.
    bool hasListenOnly() const override { return true; }
    Status setListenOnly(bool on) override;
    // The adapter's answer to "++ver" (empty before the first connection).
    const std::string& adapterVersion() const { return version_; }
    // "Prologix adapter at 127.0.0.1:1234"
    std::string adapterName() const;

  private:
    int lost(const std::string& what, long count = 0);
    bool isBoard(int ud) const override { return ud == 0; }
    bool ensureConnected();
    bool sendLine(const std::string& line);
    bool selectAddress(int pad);
    bool setReadTimeout(int millis);
    int adapterReadMillis(int tmoCode) const;
    bool startMessage(int pad, int readMillis);
    void endMessage() { messageAddress_ = -1; }
    // Waits up to `millis` (at most 100 ms, so a stop request is seen) for bytes into
    // incoming_; false when the connection broke (the call has failed then).
    bool receiveSlice(int64_t millis, long count, const char* during);
    std::optional<std::string> readReplyLine(int millis);
    bool listenerThere(int ud, const DeviceHandle& dev);
    bool enterMode(bool controller);
    int boardRead(char* out, long count);
    // ibrd's steps: hands over what arrived, all but a mark at the very end that may end the
    // message; after a silence, ends the message or asks the adapter to read on. Each gives
    // the call's end when it ends there.
    std::optional<int> handOver(char* out, long count, long& n, int pad);
    std::optional<int> afterSilence(bool onlyMark, long n, long count, int64_t deadline,
                                    int64_t adapterSilence, int64_t budgetMicros);

    Connector connect_;
    std::string name_;
    PrologixOptions options_;
    std::unique_ptr<Transport> transport_;
    std::string version_;
    std::set<int> heard_;  // descriptors whose address answered a serial poll: a listener is there
    bool boardOnline_ = true;
    bool controllerMode_ = true;
    bool listenOnly_ = false;
    int currentAddress_ = -1;     // ++addr last sent since connecting
    int currentReadMillis_ = -1;  // ++read_tmo_ms last sent
    std::string incoming_;        // bytes received and not yet consumed
    // The message being read ("++read eoi" sent, no end seen yet): its address (-1: none),
    // the bytes handed over so far, the adapter's read time-out and when a byte last came.
    int messageAddress_ = -1;
    int64_t messageBytes_ = 0;
    int messageReadMillis_ = 0;
    int64_t lastActivity_ = 0;
    static constexpr char kEotChar = '\n';
};

}  // namespace benchcap::bus::adapter
