#include "bus/adapter/prologix_driver.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "bus/adapter/prologix_protocol.h"

namespace benchcap::bus::adapter {

using namespace ibsta_bits;
namespace err = iberr_codes;

namespace {

// In device mode, the pause after which received bytes are handed over without an end mark.
constexpr int64_t kDevicePauseMillis = 50;

int64_t nowMillis() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

PrologixDriver::PrologixDriver(AdapterAddress address, PrologixOptions options)
    : name_(address.text()), options_(options) {
    const int millis = options_.connectMillis;
    connect_ = [address, millis]() { return openTransport(address, millis); };
}

PrologixDriver::PrologixDriver(Connector connect, std::string adapterName, PrologixOptions options)
    : connect_(std::move(connect)), name_(std::move(adapterName)), options_(options) {}

PrologixDriver::~PrologixDriver() = default;

std::string PrologixDriver::adapterName() const {
    return "Prologix adapter at " + name_;
}

int PrologixDriver::lost(const std::string& what, long count) {
    note_ = adapterName() + ": " + what +
            ". Check the cable and the adapter's power; the next command connects again.";
    transport_.reset();
    incoming_.clear();
    endMessage();
    return finish(ERR, err::EDVR, count);
}

std::string PrologixDriver::unavailableReason() const {
    if (transport_)
        return {};
    // The first look connects: a program learns at once that no adapter answers.
    auto* self = const_cast<PrologixDriver*>(this);
    if (Status s = self->connect(); !s)
        return s.error();
    return {};
}

Status PrologixDriver::connect() {
    if (transport_)
        return {};
    Result<std::unique_ptr<Transport>> opened = connect_();
    if (!opened)
        return benchcap::fail("no " + adapterName() + ": " + opened.error());
    transport_ = std::move(opened.value());
    transport_->drain();
    incoming_.clear();
    currentAddress_ = -1;
    currentReadMillis_ = -1;
    controllerMode_ = true;
    // Who is there: a "++" adapter answers its version; an echo or noise means something
    // else is listening on that port.
    std::string reply;
    if (!transport_->send("++ver\n", options_.connectMillis)) {
        transport_.reset();
        return benchcap::fail(adapterName() + " does not take commands");
    }
    const int64_t deadline = nowMillis() + options_.versionMillis;
    while (reply.find_first_of("\r\n") == std::string::npos ||
           reply.find_first_not_of("\r\n") == std::string::npos) {
        const int64_t left = deadline - nowMillis();
        if (left <= 0 || interruptRequested())
            break;
        if (Status s = transport_->receive(reply, static_cast<int>(std::min<int64_t>(left, 100)));
            !s) {
            transport_.reset();
            return benchcap::fail(adapterName() + ": " + s.error());
        }
    }
    Result<std::string> version = checkVersionReply(reply);
    if (!version) {
        transport_.reset();
        return benchcap::fail(adapterName() + " " + version.error() +
                              ". Check the address and that the adapter is a Prologix-compatible "
                              "GPIB controller.");
    }
    version_ = version.value();
    // Controller mode, no read-after-write, EOI on the last byte, no terminator added to
    // data, and a character appended when EOI ends a read. A Prologix would also store
    // every setting change in its EEPROM: "++savecfg 0" stops that (an AR488 reads
    // "++savecfg" as "save now", so it does not get it).
    std::string setup = "++mode 1\n++auto 0\n++eoi 1\n++eos 3\n++eot_enable 1\n++eot_char " +
                        std::to_string(static_cast<int>(kEotChar)) + "\n";
    if (version_.find("AR488") == std::string::npos)
        setup = "++savecfg 0\n" + setup;
    if (!transport_->send(setup, options_.connectMillis)) {
        transport_.reset();
        return benchcap::fail(adapterName() + " stopped taking commands during set-up");
    }
    problem_.clear();
    return {};
}

bool PrologixDriver::ensureConnected() {
    if (transport_)
        return true;
    if (Status s = connect(); !s) {
        note_ = s.error();
        fail(err::EDVR);
        return false;
    }
    return true;
}

bool PrologixDriver::sendLine(const std::string& line) {
    if (Status s = transport_->send(line, options_.connectMillis); !s) {
        lost("connection lost: " + s.error());
        return false;
    }
    return true;
}

bool PrologixDriver::selectAddress(int pad) {
    if (currentAddress_ == pad)
        return true;
    if (!sendLine("++addr " + std::to_string(pad) + "\n"))
        return false;
    currentAddress_ = pad;
    return true;
}

int PrologixDriver::adapterReadMillis(int tmoCode) const {
    const int64_t micros = timeoutMicros(tmoCode);
    if (micros <= 0)
        return options_.adapterMaxReadMillis;
    return static_cast<int>(std::clamp<int64_t>(micros / 1000, 1, options_.adapterMaxReadMillis));
}

bool PrologixDriver::setReadTimeout(int millis) {
    if (currentReadMillis_ == millis)
        return true;
    if (!sendLine("++read_tmo_ms " + std::to_string(millis) + "\n"))
        return false;
    currentReadMillis_ = millis;
    return true;
}

std::optional<std::string> PrologixDriver::readReplyLine(int millis) {
    const int64_t deadline = nowMillis() + millis;
    for (;;) {
        while (!incoming_.empty() && (incoming_.front() == '\r' || incoming_.front() == '\n'))
            incoming_.erase(0, 1);
        if (auto line = takeReplyLine(incoming_))
            return line;
        const int64_t left = deadline - nowMillis();
        if (left <= 0 || interruptRequested())
            return std::nullopt;
        if (!receiveSlice(left, 0, ""))
            return std::nullopt;
    }
}

bool PrologixDriver::receiveSlice(int64_t millis, long count, const char* during) {
    const int slice = static_cast<int>(std::clamp<int64_t>(millis, 0, 100));
    if (Status s = transport_->receive(incoming_, slice); !s) {
        lost(std::string("connection lost") + during + ": " + s.error(), count);
        return false;
    }
    return true;
}

bool PrologixDriver::startMessage(int pad, int readMillis) {
    endMessage();
    if (!selectAddress(pad) || !setReadTimeout(readMillis))
        return false;
    transport_->drain();
    incoming_.clear();
    if (!sendLine("++read eoi\n"))
        return false;
    messageAddress_ = pad;
    messageBytes_ = 0;
    messageReadMillis_ = readMillis;
    lastActivity_ = nowMillis();
    return true;
}

int PrologixDriver::ibfind(const std::string& name) {
    return findOnlyBoard(name, boardOnline_);
}

int PrologixDriver::ibdev(int board, int pad, int sad, int tmo, int eot, int eos) {
    return openOnOnlyBoard(DeviceHandle{board, pad, sad, tmo, eot, eos});
}

bool PrologixDriver::listenerThere(int ud, const DeviceHandle& dev) {
    if (!options_.listenerProbe || heard_.count(ud))
        return true;
    // A serial poll is the adapter's one exchange that needs an instrument and sends it no
    // message; silence within the handle's time-out means nobody is at that address.
    if (!setReadTimeout(adapterReadMillis(dev.tmo)))
        return false;
    transport_->drain();
    incoming_.clear();
    if (!sendLine("++spoll " + std::to_string(dev.pad) + "\n"))
        return false;
    const auto line = readReplyLine(currentReadMillis_ + options_.slackMillis);
    if (!transport_)
        return false;
    if (!line || !parseStatusByte(*line))
        return false;
    heard_.insert(ud);
    return true;
}

int PrologixDriver::ibwrt(int ud, const void* data, long count) {
    if (isBoard(ud) && !controllerMode_ && count >= 0) {
        // Device mode: the adapter holds the message and sends it when the instrument
        // addresses it to talk; a later message replaces one not read yet.
        if (!boardOnline_)
            return fail(err::EDVR);
        if (!ensureConnected())
            return status().ibsta;
        const std::string bytes(static_cast<const char*>(data), static_cast<size_t>(count));
        if (!sendLine(escapeData(bytes)))
            return status().ibsta;
        return finish(CMPL, 0, count);
    }
    DeviceHandle* dev = device(ud);
    if (!dev || count < 0)
        return fail(err::EDVR);
    if (!boardOnline_)
        return fail(err::EDVR);
    if (boardOption(0, ibc::SC) == 0 || !controllerMode_)
        return fail(err::ECIC);
    if (!ensureConnected())
        return status().ibsta;
    // IEEE 488.2: a new message discards output the controller never read.
    endMessage();
    if (!listenerThere(ud, *dev))
        return transport_ ? fail(err::ENOL) : status().ibsta;
    if (count == 0)
        return finish(CMPL | CIC, 0, 0);
    if (!selectAddress(dev->pad))
        return status().ibsta;
    const std::string bytes(static_cast<const char*>(data), static_cast<size_t>(count));
    if (!sendLine(escapeData(bytes)))
        return status().ibsta;
    return finish(CMPL | CIC, 0, count);
}

int PrologixDriver::ibrd(int ud, void* buffer, long count) {
    if (count < 0)
        return fail(err::EARG);
    char* out = static_cast<char*>(buffer);
    if (isBoard(ud))
        return boardRead(out, count);
    DeviceHandle* dev = device(ud);
    if (!dev || !boardOnline_)
        return fail(err::EDVR);
    if (boardOption(0, ibc::SC) == 0 || !controllerMode_)
        return fail(err::ECIC);
    if (!ensureConnected())
        return static_cast<uint16_t>(status().ibsta);
    // As on a board, the handle's time-out bounds the whole call (transport latency aside).
    const int64_t budgetMicros = timeoutMicros(dev->tmo);
    const int64_t deadline =
        budgetMicros > 0 ? nowMillis() + budgetMicros / 1000 + options_.slackMillis : INT64_MAX;
    if (messageAddress_ != dev->pad && !startMessage(dev->pad, adapterReadMillis(dev->tmo)))
        return static_cast<uint16_t>(status().ibsta);
    long n = 0;
    for (;;) {
        if (std::optional<int> ended = handOver(out, count, n, dev->pad))
            return *ended;
        const bool onlyMark = incoming_.size() == 1 && incoming_[0] == kEotChar;
        if (n == count && !incoming_.empty() && !onlyMark)
            return finish(CMPL, 0, n);  // more of the message follows
        if (interruptRequested()) {
            endMessage();
            return finish(ERR, err::EABO, n);
        }
        const int64_t now = nowMillis();
        const int64_t adapterSilence = lastActivity_ + messageReadMillis_ + options_.slackMillis;
        // A mark at the end, or a full buffer: a short silence tells whether the message ends.
        const int64_t wait = (onlyMark || n == count) ? options_.quietMillis
                                                      : std::min(adapterSilence, deadline) - now;
        const size_t before = incoming_.size();
        const std::string during = " after " +
                                   std::to_string(messageBytes_ + static_cast<int64_t>(before)) +
                                   " bytes of the answer";
        if (wait > 0 && !receiveSlice(wait, n, during.c_str()))
            return static_cast<uint16_t>(status().ibsta);
        if (incoming_.size() > before) {
            lastActivity_ = nowMillis();
            continue;
        }
        if (std::optional<int> ended =
                afterSilence(onlyMark, n, count, deadline, adapterSilence, budgetMicros))
            return *ended;
    }
}

std::optional<int> PrologixDriver::handOver(char* out, long count, long& n, int pad) {
    if (incoming_.empty())
        return std::nullopt;
    const size_t mark = incoming_.back() == kEotChar ? 1 : 0;
    const size_t take = std::min<size_t>(incoming_.size() - mark, static_cast<size_t>(count - n));
    if (out)
        std::memcpy(out + n, incoming_.data(), take);
    incoming_.erase(0, take);
    n += static_cast<long>(take);
    messageBytes_ += static_cast<int64_t>(take);
    if (messageBytes_ <= options_.maxMessageBytes)
        return std::nullopt;
    endMessage();
    note_ = adapterName() + ": the instrument at GPIB " + std::to_string(pad) + " sent more than " +
            std::to_string(options_.maxMessageBytes) +
            " bytes without ending its message, more than the largest block "
            "Benchcap accepts; the read was stopped";
    return finish(ERR, err::EABO, n);
}

std::optional<int> PrologixDriver::afterSilence(bool onlyMark, long n, long count, int64_t deadline,
                                                int64_t adapterSilence, int64_t budgetMicros) {
    if (onlyMark) {
        incoming_.clear();
        endMessage();
        return finish(CMPL | END, 0, n);
    }
    if (n == count)
        return finish(CMPL, 0, n);
    if (nowMillis() >= deadline) {
        endMessage();
        return finish(ERR | TIMO | CMPL, err::EABO, n);
    }
    if (nowMillis() >= adapterSilence) {
        // The adapter's read timed out; a board's longer time-out is several in a row,
        // while at least half of one still fits.
        if (budgetMicros > 0 && (deadline - nowMillis()) * 2 < messageReadMillis_) {
            endMessage();
            return finish(ERR | TIMO | CMPL, err::EABO, n);
        }
        if (!sendLine("++read eoi\n"))
            return static_cast<uint16_t>(status().ibsta);
        lastActivity_ = nowMillis();
    }
    return std::nullopt;
}

bool PrologixDriver::enterMode(bool controller) {
    if (controllerMode_ == controller)
        return true;
    if (!ensureConnected())
        return false;
    std::string lines;
    if (controller) {
        lines = std::string(listenOnly_ ? "++lon 0\n" : "") + "++mode 1\n++eot_enable 1\n";
        listenOnly_ = false;
    } else {
        // The plot goes through as it is: no mark in the stream, the board's own EOS
        // setting ends its reads.
        lines =
            "++eot_enable 0\n++mode 0\n++addr " + std::to_string(boardOption(0, ibc::PAD)) + "\n";
    }
    if (!sendLine(lines))
        return false;
    controllerMode_ = controller;
    currentAddress_ = controller ? -1 : boardOption(0, ibc::PAD);
    incoming_.clear();
    return true;
}

int PrologixDriver::ibonl(int ud, int online) {
    if (device(ud)) {
        if (!online) {
            closeDevice(ud);
            heard_.erase(ud);
        }
        return finish(CMPL, 0, 0);
    }
    if (isBoard(ud)) {
        boardOnline_ = online != 0;
        if (!online && transport_ && !controllerMode_) {
            // Offline ends device mode: the adapter goes back to being the controller.
            enterMode(true);
        }
        endMessage();
        incoming_.clear();
        return finish(CMPL, 0, 0);
    }
    return fail(err::EDVR);
}

int PrologixDriver::ibconfig(int ud, int option, int value) {
    if (DeviceHandle* dev = device(ud)) {
        if (!configureDevice(*dev, option, value))
            return status().ibsta;
        if (option == ibc::PAD)
            heard_.erase(ud);
        return finish(CMPL, 0, 0);
    }
    if (isBoard(ud)) {
        if (!configureBoard(0, option, value))
            return status().ibsta;
        if (option == ibc::SC) {
            // Giving up the controller role is the adapter's device mode.
            if (!enterMode(value != 0))
                return status().ibsta;
        } else if (option == ibc::PAD && !controllerMode_ && transport_) {
            if (!sendLine("++addr " + std::to_string(value) + "\n"))
                return status().ibsta;
            currentAddress_ = value;
        }
        return finish(CMPL, 0, 0);
    }
    return fail(err::EDVR);
}

int PrologixDriver::ibsre(int ud, int /*value*/) {
    if (!isBoard(ud))
        return fail(err::EARG);
    // The adapter holds Remote Enable itself and has no command for it: answered as a
    // board without control of that line answers.
    return fail(err::ECAP);
}

int PrologixDriver::ibloc(int ud) {
    if (DeviceHandle* dev = device(ud)) {
        if (!controllerMode_)
            return fail(err::ECIC);
        if (!ensureConnected())
            return status().ibsta;
        if (!selectAddress(dev->pad) || !sendLine("++loc\n"))
            return status().ibsta;
        return finish(CMPL, 0, 0);
    }
    if (isBoard(ud))
        return finish(CMPL, 0, 0);
    return fail(err::EDVR);
}

int PrologixDriver::ibclr(int ud) {
    DeviceHandle* dev = device(ud);
    if (!dev)
        return fail(isBoard(ud) ? err::EARG : err::EDVR);
    if (!boardOnline_)
        return fail(err::EDVR);
    if (!controllerMode_)
        return fail(err::ECIC);
    if (!ensureConnected())
        return status().ibsta;
    // What the adapter already passed on belongs to the answer being dropped.
    endMessage();
    transport_->drain();
    incoming_.clear();
    if (!selectAddress(dev->pad) || !sendLine("++clr\n"))
        return status().ibsta;
    return finish(CMPL, 0, 0);
}

int PrologixDriver::ibwait(int ud, int mask) {
    if (device(ud))
        return finish(CMPL, 0, 0);
    if (!isBoard(ud))
        return fail(err::EDVR);
    const int64_t limitMicros = timeoutMicros(boardOption(0, ibc::TMO));
    // The adapter cannot tell when it is addressed to talk; it holds what it is given until
    // then, so a message for the instrument can be handed over at once.
    if ((mask & TACS) && !controllerMode_)
        return finish(TACS | CMPL, 0, 0);
    if ((mask & LACS) && !controllerMode_) {
        if (!ensureConnected())
            return status().ibsta;
        // In device mode the adapter passes on what it hears as soon as an instrument talks
        // to its address: the first byte is the board being addressed to listen.
        const int64_t deadline = limitMicros > 0 ? nowMillis() + limitMicros / 1000 : INT64_MAX;
        while (incoming_.empty()) {
            if (interruptRequested())
                return fail(err::EABO);
            const int64_t left = deadline - nowMillis();
            if (left <= 0)
                return finish(TIMO, 0, 0);
            if (!receiveSlice(left, 0, " while waiting as listener"))
                return status().ibsta;
        }
        return finish(LACS | CMPL, 0, 0);
    }
    if (!(mask & TIMO) || limitMicros == 0)
        return fail(err::EARG);
    return finish(TIMO, 0, 0);
}

Status PrologixDriver::setListenOnly(bool on) {
    if (on && controllerMode_) {
        return benchcap::fail(
            "listen-only needs the adapter in device mode (the board not controller)");
    }
    if (!ensureConnected() || !sendLine(on ? "++lon 1\n" : "++lon 0\n"))
        return benchcap::fail("the connection to " + adapterName() + " failed");
    listenOnly_ = on;
    return {};
}

int PrologixDriver::boardRead(char* out, long count) {
    if (!boardOnline_)
        return fail(err::EDVR);
    if (controllerMode_)
        return fail(err::EADR);  // a controller board is not addressed to listen
    if (!ensureConnected())
        return static_cast<uint16_t>(status().ibsta);
    const bool eosOn = boardOption(0, ibc::EOSrd) != 0;
    const char eosChar = static_cast<char>(boardOption(0, ibc::EOSchar) & 0xFF);
    const int64_t limitMicros = timeoutMicros(boardOption(0, ibc::TMO));
    // As on a board, the time-out bounds the whole call.
    const int64_t deadline = limitMicros > 0 ? nowMillis() + limitMicros / 1000 : INT64_MAX;
    long n = 0;
    int64_t lastByte = 0;
    for (;;) {
        const long before = n;
        while (n < count && !incoming_.empty()) {
            const char c = incoming_.front();
            incoming_.erase(0, 1);
            if (out)
                out[n] = c;
            ++n;
            if (eosOn && c == eosChar)
                return finish(CMPL | END, 0, n);
        }
        if (n == count)
            return finish(CMPL, 0, n);
        if (n > before)
            lastByte = nowMillis();
        // The adapter passes no end mark on: an instrument that stops talking to wait for
        // the plotter's answer (an output instruction needs no terminator) would otherwise
        // wait out the time-out. What came is handed over after a short pause instead.
        if (n > 0 && nowMillis() - lastByte >= kDevicePauseMillis)
            return finish(CMPL, 0, n);
        if (interruptRequested())
            return finish(ERR, err::EABO, n);
        const int64_t left = deadline - nowMillis();
        if (left <= 0)
            return finish(ERR | TIMO | CMPL, err::EABO, n);
        const std::string during = " during a plot after " + std::to_string(n) + " bytes";
        const int64_t wait = n > 0 ? std::min(left, kDevicePauseMillis) : left;
        if (!receiveSlice(wait, n, during.c_str()))
            return static_cast<uint16_t>(status().ibsta);
    }
}

void PrologixDriver::SendIFC(int board) {
    if (board != 0) {
        fail(err::ENEB);
        return;
    }
    if (!controllerMode_) {
        fail(err::ESAC);
        return;
    }
    if (!ensureConnected())
        return;
    endMessage();
    if (!sendLine("++ifc\n"))
        return;
    finish(CMPL | CIC, 0, 0);
}

}  // namespace benchcap::bus::adapter
