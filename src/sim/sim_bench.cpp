#include "sim/sim_bench.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "sim/instrument_kinds.h"

namespace benchcap::sim {

using namespace bus::ibsta_bits;
namespace err = bus::iberr_codes;

namespace {
constexpr int kReos = 0x400;  // ibdev eos mode: end reads on the EOS character
// A read that a stop request ended (outside the 16 status bits).
constexpr int kStopped = 0x10000;
// The longest sleep between two looks at a stop request.
constexpr int64_t kPauseSliceMicros = 50'000;

// A read's status from what readFrom() gave: a bus error is EBUS, a stop request or the
// time-out EABO.
bus::CallOutcome readOutcome(int result, long got) {
    int sta = CMPL | result;
    int errCode = 0;
    if (result & kStopped) {
        sta = ERR;
        errCode = err::EABO;
    } else if (result & TIMO) {
        sta = ERR | TIMO | CMPL;
        errCode = err::EABO;
    } else if (result & ERR) {
        sta = ERR | CMPL;
        errCode = err::EBUS;
    }
    return {sta, bus::DriverStatus{bus::LongToInt16(sta), static_cast<int16_t>(errCode),
                                   bus::LongToInt16(got), static_cast<int32_t>(got)}};
}
}  // namespace

bool SimBench::pause(int64_t micros, long bytes) {
    const int64_t whole = micros;
    while (micros > 0) {
        if (interruptRequested())
            return false;
        const int64_t slice = std::min(micros, kPauseSliceMicros);
        clock_->sleepMicros(slice);
        micros -= slice;
        // The paced bytes arrive over the pause, as they would on the bus.
        if (bytes > 0)
            reportCallProgress(bytes * (whole - micros) / whole);
    }
    return !interruptRequested();
}

SimBench::SimBench(const BenchConfig& config, std::shared_ptr<bus::Clock> clock)
    : clock_(std::move(clock)) {
    for (int b : config.boards) {
        if (b >= 0 && b < 10)
            boards_[b].present = true;
    }
    for (const InstrumentConfig& ic : config.instruments) {
        auto inst = createInstrument(ic, *clock_);
        byAddress_[{ic.board, ic.address}] = inst.get();
        instruments_.push_back(std::move(inst));
    }
}

SimBench::~SimBench() = default;

SimBench::Board* SimBench::board(int ud) {
    if (ud < 0 || ud >= 10 || !boards_[ud].present)
        return nullptr;
    return &boards_[ud];
}

bool SimBench::boardPresent(int b) const {
    return b >= 0 && b < 10 && boards_[b].present;
}

void SimBench::log(int b, int address, Traffic kind, std::string data, int value) {
    // A bench that runs for a day (a recording) must not grow without end: past the limit
    // the older half goes. Tests look at far fewer calls than that.
    if (traffic_.size() >= kTrafficLimit)
        traffic_.erase(traffic_.begin(), traffic_.begin() + kTrafficLimit / 2);
    traffic_.push_back(TrafficEntry{clock_->nowMicros(), b, address, kind, std::move(data), value});
}

SimInstrument* SimBench::instrument(int b, int address) {
    auto it = byAddress_.find({b, address});
    return it == byAddress_.end() ? nullptr : it->second;
}

std::vector<std::string> SimBench::writesTo(int address) const {
    std::vector<std::string> out;
    for (const auto& e : traffic_) {
        if (e.kind == Traffic::Write && e.address == address)
            out.push_back(e.data);
    }
    return out;
}

int SimBench::count(Traffic kind, int address) const {
    return static_cast<int>(std::count_if(traffic_.begin(), traffic_.end(), [&](const auto& e) {
        return e.kind == kind && (address == -2 || e.address == address);
    }));
}

int SimBench::ibfind(const std::string& name) {
    // Board names are "GPIB" and one digit; a real driver matches them without case.
    if (name.size() == 5 && (name.compare(0, 4, "GPIB") == 0 || name.compare(0, 4, "gpib") == 0) &&
        name[4] >= '0' && name[4] <= '9') {
        const int n = name[4] - '0';
        if (boards_[n].present) {
            boards_[n].online = true;
            finish(CMPL, 0, 0);
            return n;
        }
    }
    finish(ERR, err::ENEB, 0);
    return -1;
}

int SimBench::ibdev(int b, int pad, int sad, int tmo, int eot, int eos) {
    if (!boardPresent(b)) {
        finish(ERR, err::ENEB, 0);
        return -1;
    }
    const int ud = openDevice(bus::DeviceHandle{b, pad, sad, tmo, eot, eos});
    if (ud >= 0)
        log(b, pad, Traffic::Open, {}, tmo);
    return ud;
}

int SimBench::ibwrt(int ud, const void* data, long count) {
    if (Board* brd = board(ud); brd && count >= 0) {
        // The board as talker (not controller): its bytes go to the instrument that
        // addressed it to talk.
        if (!brd->online)
            return fail(err::EDVR);
        if (boardOption(ud, bus::ibc::SC) != 0)
            return fail(err::ECIC);
        const std::string bytes(static_cast<const char*>(data), static_cast<size_t>(count));
        SimInstrument* asker = brd->talker && brd->talker->awaitsAnswer() ? brd->talker : nullptr;
        log(ud, asker ? asker->address() : -1, Traffic::Write, bytes, asker ? 0 : -1);
        if (!asker)
            return fail(err::ENOL);
        asker->answerFromBoard(bytes);
        return finish(CMPL, 0, count);
    }
    bus::DeviceHandle* dev = device(ud);
    if (!dev || count < 0)
        return fail(err::EDVR);
    Board& brd = boards_[dev->board];
    if (!brd.online)
        return fail(err::EDVR);
    if (boardOption(dev->board, bus::ibc::SC) == 0)
        return fail(err::ECIC);
    const std::string bytes(static_cast<const char*>(data), static_cast<size_t>(count));
    SimInstrument* inst = instrument(dev->board, dev->pad);
    if (!inst || !inst->listens()) {
        log(dev->board, dev->pad, Traffic::Write, bytes, -1);
        return fail(err::ENOL);
    }
    log(dev->board, dev->pad, Traffic::Write, bytes, 0);
    std::string& pending = pendingInput_[{dev->board, dev->pad}];
    pending += bytes;
    if (dev->eot) {
        // IEEE 488.2: a new message discards output the controller never read. An answer
        // still being made (a late sweep) is not out yet: it stays, and comes first.
        auto& queue = inst->output();
        const int64_t now = clock_->nowMicros();
        const auto ready = std::find_if(queue.begin(), queue.end(), [now](const OutputChunk& c) {
            return c.readyAtMicros > now;
        });
        if (ready != queue.begin()) {
            queue.erase(queue.begin(), ready);
            inst->pushError(-410, "Query INTERRUPTED");
        }
        const std::string message = std::move(pending);
        pending.clear();
        inst->receiveMessage(message);
    }
    return finish(CMPL | CIC, 0, count);
}

int SimBench::readFrom(SimInstrument* inst, int b, int address, char* out, long count, int tmoCode,
                       int eosMode, long* got) {
    long n = 0;
    bool end = false;
    bool busError = false;
    bool outOfTime = false;
    double pacedSeconds = 0;
    // As on a board, the handle's time-out bounds the whole call, paced data included.
    const int64_t budgetMicros = bus::timeoutMicros(tmoCode);
    int64_t waited = 0;  // for a late answer
    if (inst) {
        auto& queue = inst->output();
        const bool eosOn = (eosMode & kReos) != 0;
        const char eosChar = static_cast<char>(eosMode & 0xFF);
        while (n < count && !queue.empty() && !end) {
            OutputChunk& chunk = queue.front();
            if (const int64_t wait = chunk.readyAtMicros - clock_->nowMicros(); wait > 0) {
                // A late answer: the read waits for it within its time-out.
                if (budgetMicros > 0 && waited + wait > budgetMicros)
                    break;
                if (!pause(wait)) {
                    *got = n;
                    return kStopped;
                }
                waited += wait;
            }
            const char* from = chunk.bytes.data() + chunk.offset;
            size_t take = std::min<size_t>(chunk.remaining(), static_cast<size_t>(count - n));
            if (eosOn) {
                if (const void* pos = std::memchr(from, eosChar, take)) {
                    take = static_cast<size_t>(static_cast<const char*>(pos) - from) + 1;
                    end = true;
                }
            }
            if (chunk.bytesPerSecond > 0 && budgetMicros > 0) {
                const double left = static_cast<double>(budgetMicros) / 1e6 - pacedSeconds;
                const double fits = std::floor(std::max(0.0, left) * chunk.bytesPerSecond);
                if (static_cast<double>(take) > fits) {
                    take = static_cast<size_t>(fits);
                    outOfTime = true;
                    end = false;
                }
            }
            if (chunk.busErrorAt && chunk.offset + take > *chunk.busErrorAt) {
                take = *chunk.busErrorAt - chunk.offset;
                busError = true;
                end = false;
            }
            if (out)
                std::memcpy(out + n, from, take);
            n += static_cast<long>(take);
            chunk.offset += take;
            if (chunk.bytesPerSecond > 0)
                pacedSeconds += static_cast<double>(take) / chunk.bytesPerSecond;
            if (busError) {
                // The instrument gives up the rest of its answer.
                queue.clear();
                break;
            }
            if (outOfTime)
                break;
            if (chunk.remaining() == 0) {
                if (chunk.eoi)
                    end = true;
                queue.pop_front();
            }
        }
    }
    // Bulk data take the time the instrument's rate gives them, on the bench's clock.
    const auto pacedMicros = static_cast<int64_t>(std::llround(pacedSeconds * 1e6));
    *got = n;
    if (!pause(pacedMicros, n))
        return kStopped;
    if (busError)
        return ERR;
    if (!outOfTime && (end || n == count))
        return end ? END : 0;
    // Nothing more is coming, or not in time: the read runs into the handle's time-out.
    if (!pause(std::max<int64_t>(0, budgetMicros - pacedMicros - waited)))
        return kStopped;
    log(b, address, Traffic::Timeout, {}, tmoCode);
    return TIMO;
}

int SimBench::ibrd(int ud, void* buffer, long count) {
    if (count < 0)
        return fail(err::EARG);
    char* out = static_cast<char*>(buffer);
    long got = 0;
    int result = 0;
    int b = 0;
    int address = -1;
    if (bus::DeviceHandle* dev = device(ud)) {
        Board& brd = boards_[dev->board];
        if (!brd.online)
            return fail(err::EDVR);
        if (boardOption(dev->board, bus::ibc::SC) == 0)
            return fail(err::ECIC);
        b = dev->board;
        address = dev->pad;
        result = readFrom(instrument(b, address), b, address, out, count, dev->tmo, dev->eos, &got);
    } else if (Board* brd = board(ud)) {
        if (!brd->online)
            return fail(err::EDVR);
        // The board reads as a listener from whoever addressed it to listen.
        b = ud;
        const int eosMode = boardOption(b, bus::ibc::EOSrd)
                                ? (kReos | (boardOption(b, bus::ibc::EOSchar) & 0xFF))
                                : 0;
        result =
            readFrom(brd->talker, b, -1, out, count, boardOption(b, bus::ibc::TMO), eosMode, &got);
        address = brd->talker ? brd->talker->address() : -1;
    } else {
        return fail(err::EDVR);
    }
    log(b, address, Traffic::Read, std::string(out, static_cast<size_t>(std::min<long>(got, 256))),
        static_cast<int>(got));
    return finish(readOutcome(result, got));
}

int SimBench::ibrdf(int ud, const std::string& fileName) {
    const bus::DeviceHandle* dev = device(ud);
    if (!dev)
        return fail(err::EDVR);
    const bus::DeviceHandle handle = *dev;
    bool opened = false;
    const bus::CallOutcome outcome = bus::readToFile(
        fileName,
        [&](char* buffer, long size) {
            opened = true;
            long got = 0;
            const int result = readFrom(instrument(handle.board, handle.pad), handle.board,
                                        handle.pad, buffer, size, handle.tmo, handle.eos, &got);
            return readOutcome(result, got);
        },
        this);
    if (opened)
        log(handle.board, handle.pad, Traffic::ReadToFile, fileName, outcome.status.ibcntl);
    return finish(outcome);
}

int SimBench::ibonl(int ud, int online) {
    if (bus::DeviceHandle* dev = device(ud)) {
        log(dev->board, dev->pad, Traffic::Online, {}, online);
        // As a real driver, ibonl(ud, 0) frees the descriptor, so a program that opens one
        // per address and scan (the bus scan) never runs out of them.
        if (!online)
            closeDevice(ud);
        return finish(CMPL, 0, 0);
    }
    if (Board* brd = board(ud)) {
        // Like linux-gpib, taking the board offline keeps its configured address and
        // controller role; only a new ibfind brings it back online.
        log(ud, -1, Traffic::Online, {}, online);
        brd->online = online != 0;
        brd->talker = nullptr;
        return finish(CMPL, 0, 0);
    }
    return fail(err::EDVR);
}

int SimBench::ibconfig(int ud, int opt, int value) {
    if (bus::DeviceHandle* dev = device(ud)) {
        if (!configureDevice(*dev, opt, value))
            return status().ibsta;
        if (opt == bus::ibc::TMO)
            log(dev->board, dev->pad, Traffic::SetTimeout, {}, value);
        log(dev->board, dev->pad, Traffic::Config, std::to_string(opt), value);
        return finish(CMPL, 0, 0);
    }
    if (Board* brd = board(ud)) {
        if (!configureBoard(ud, opt, value))
            return status().ibsta;
        // Taking the controller role back ends a plot: the next wait as a device hears the
        // instrument plot anew.
        if (opt == bus::ibc::SC && value != 0)
            brd->talker = nullptr;
        log(ud, -1, opt == bus::ibc::TMO ? Traffic::SetTimeout : Traffic::Config,
            opt == bus::ibc::TMO ? std::string() : std::to_string(opt), value);
        return finish(CMPL, 0, 0);
    }
    return fail(err::EDVR);
}

int SimBench::ibsre(int ud, int value) {
    if (!board(ud))
        return fail(err::EARG);
    setBoardOption(ud, bus::ibc::SRE, value);
    log(ud, -1, Traffic::Ren, {}, value);
    return finish(CMPL, 0, 0);
}

int SimBench::ibloc(int ud) {
    if (bus::DeviceHandle* dev = device(ud)) {
        log(dev->board, dev->pad, Traffic::GoToLocal);
        if (SimInstrument* inst = instrument(dev->board, dev->pad))
            inst->onGoToLocal();
        return finish(CMPL, 0, 0);
    }
    if (board(ud))
        return finish(CMPL, 0, 0);
    return fail(err::EDVR);
}

int SimBench::ibclr(int ud) {
    bus::DeviceHandle* dev = device(ud);
    if (!dev)
        return fail(board(ud) ? err::EARG : err::EDVR);
    if (!boards_[dev->board].online)
        return fail(err::EDVR);
    if (boardOption(dev->board, bus::ibc::SC) == 0)
        return fail(err::ECIC);
    SimInstrument* inst = instrument(dev->board, dev->pad);
    if (!inst || !inst->listens()) {
        log(dev->board, dev->pad, Traffic::Clear, {}, -1);
        return fail(err::ENOL);
    }
    log(dev->board, dev->pad, Traffic::Clear);
    // Answers still being made go too: nothing asked before the clear is answered after it.
    inst->output().clear();
    pendingInput_.erase({dev->board, dev->pad});
    return finish(CMPL | CIC, 0, 0);
}

int SimBench::ibwait(int ud, int mask) {
    Board* brd = board(ud);
    if (!brd) {
        if (device(ud))
            return finish(CMPL, 0, 0);
        return fail(err::EDVR);
    }
    const int tmo = boardOption(ud, bus::ibc::TMO);
    int64_t limit = bus::timeoutMicros(tmo);
    if (SimInstrument* talker = brd->talker; talker && brd->online) {
        // During a plot: addressed to talk when the instrument waits for an answer, to
        // listen while it has more to send.
        int sta = 0;
        if ((mask & TACS) && talker->awaitsAnswer())
            sta = TACS | CMPL;
        else if ((mask & LACS) && !talker->output().empty())
            sta = LACS | CMPL;
        if (sta != 0) {
            log(ud, talker->address(), Traffic::Wait, {}, sta);
            return finish(sta, 0, 0);
        }
    } else if ((mask & LACS) && brd->online && boardOption(ud, bus::ibc::SC) == 0) {
        // An instrument that plots to the board's address addresses it as listener; one in
        // talk-only mode reaches a board in listen-only mode.
        const int pad =
            brd->listenOnly ? SimInstrument::kAnyListener : boardOption(ud, bus::ibc::PAD);
        SimInstrument* first = nullptr;
        int64_t firstDelay = 0;
        for (const auto& inst : instruments_) {
            if (inst->config().board != ud)
                continue;
            if (auto delay = inst->talkDelayMicros(pad); delay && (!first || *delay < firstDelay)) {
                first = inst.get();
                firstDelay = *delay;
            }
        }
        if (first && (limit == 0 || firstDelay <= limit)) {
            if (!pause(firstDelay))
                return fail(err::EABO);
            first->beginTalking();
            brd->talker = first;
            const int sta = LACS | CMPL;
            log(ud, first->address(), Traffic::Wait, {}, sta);
            return finish(sta, 0, 0);
        }
    }
    if (!(mask & TIMO) || limit == 0) {
        // Nothing would ever end this wait; a simulated bench must not hang.
        log(ud, -1, Traffic::Wait, {}, ERR);
        return fail(err::EARG);
    }
    if (!pause(limit))
        return fail(err::EABO);
    log(ud, -1, Traffic::Timeout, {}, tmo);
    log(ud, -1, Traffic::Wait, {}, TIMO);
    return finish(TIMO, 0, 0);
}

void SimBench::setBoardListenOnly(int b, bool on) {
    if (Board* brd = board(b))
        brd->listenOnly = on;
}

void SimBench::SendIFC(int b) {
    if (!board(b)) {
        fail(err::ENEB);
        return;
    }
    log(b, -1, Traffic::Ifc);
    for (auto& [key, pending] : pendingInput_) {
        if (key.first == b)
            pending.clear();
    }
    for (const auto& inst : instruments_) {
        if (inst->config().board == b)
            inst->onInterfaceClear();
    }
    finish(CMPL | CIC, 0, 0);
}

}  // namespace benchcap::sim
