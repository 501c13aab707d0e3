#include "bus/log/replay_driver.h"

#include <algorithm>
#include <cstring>

#include "base/input_file.h"

namespace benchcap::bus::log {

namespace {

// A call as the log writes it, without the fields that may differ between runs (the
// handle's address is implied by the handle, ibrdf's file is a fresh temporary).
std::string canonical(const std::string& text) {
    const auto fields = splitFields(text);
    if (!fields || fields->empty())
        return text;
    std::string out = (*fields)[0].first;
    for (size_t i = 1; i < fields->size(); ++i) {
        const auto& [key, value] = (*fields)[i];
        if (key != "file" && key != "dev")
            out += ' ' + key + '=' + value;
    }
    return out;
}

// A call for a message: long data cut, so the line stays readable.
std::string shown(const std::string& text) {
    return text.size() > 300 ? text.substr(0, 300) + "..." : text;
}

std::string withHandle(const char* call, int ud) {
    return std::string(call) + " ud=" + std::to_string(ud);
}

}  // namespace

ReplayDriver::ReplayDriver(const std::string& file) : file_(file) {
    if (Status readable = checkRegularFile(file, "the bus log"); !readable) {
        unavailable_ = readable.error();
        return;
    }
    in_.open(file, std::ios::binary);
    if (!in_) {
        unavailable_ = "cannot read the bus log " + file + ": " + std::strerror(errno);
        return;
    }
    reader_.emplace(in_);
}

int ReplayDriver::stopWith(const std::string& message) {
    if (problem_.empty())
        problem_ = message;
    reader_.reset();
    return settle(ibsta_bits::ERR,
                  DriverStatus{LongToInt16(ibsta_bits::ERR), iberr_codes::EDVR, 0, 0});
}

const Record* ReplayDriver::next(const std::string& identity) {
    if (!reader_) {
        stopWith("the replay has stopped");
        return nullptr;
    }
    Result<std::optional<Record>> record = reader_->next();
    if (!record) {
        stopWith(record.error());
        return nullptr;
    }
    if (!record->has_value()) {
        stopWith(begun_
                     ? "the bus log " + file_ + " ends at line " + std::to_string(reader_->line()) +
                           ", but the program went on with: " + shown(identity)
                     : "the bus log " + file_ + " holds no calls, but the program began with: " +
                           shown(identity) + "; replay a log that a run with --bus-log wrote");
        return nullptr;
    }
    begun_ = true;
    current_ = std::move(**record);
    return &current_;
}

bool ReplayDriver::matches(const Record& record, const std::string& identity) {
    const std::string logged = canonical(record.identity());
    if (logged == canonical(identity))
        return true;
    stopWith("the run differs from the bus log at line " + std::to_string(record.line) +
             ": the log has " + shown(record.identity()) + "; the program did " + shown(identity) +
             " instead");
    return false;
}

const Record* ReplayDriver::expect(const std::string& identity) {
    const Record* record = next(identity);
    return record && matches(*record, identity) ? record : nullptr;
}

int ReplayDriver::answer(const Record& record) {
    return settle(record.result, record.status);
}

int ReplayDriver::ibdev(int board, int pad, int sad, int tmo, int eot, int eos) {
    const Record* r =
        expect("ibdev board=" + std::to_string(board) + " pad=" + std::to_string(pad) +
               " sad=" + std::to_string(sad) + " tmo=" + std::to_string(tmo) +
               " eot=" + std::to_string(eot) + " eos=" + std::to_string(eos));
    return r ? answer(*r) : -1;
}

int ReplayDriver::ibfind(const std::string& name) {
    const Record* r = expect("ibfind name=\"" + escapeBytes(name) + '"');
    return r ? answer(*r) : -1;
}

int ReplayDriver::ibwrt(int ud, const void* data, long count) {
    const std::string_view bytes(static_cast<const char*>(data),
                                 count > 0 ? static_cast<size_t>(count) : 0);
    const std::string start = withHandle("ibwrt", ud) + " count=" + std::to_string(count);
    // The log's form of the written block decides how it is compared.
    const Record* r = next(start + dataText(bytes, true));
    if (!r)
        return ibsta_bits::ERR;
    const bool shortened = r->givenValue("len").has_value();
    return matches(*r, start + dataText(bytes, !shortened)) ? answer(*r) : ibsta_bits::ERR;
}

const Record* ReplayDriver::expectWhole(const std::string& identity, const char* what) {
    const Record* r = expect(identity);
    if (r && r->hasData && !r->fullData) {
        stopWith("bus log line " + std::to_string(r->line) +
                 " holds only the first and last 256 bytes of this " + std::to_string(r->length) +
                 "-byte " + what +
                 ", so it cannot be replayed; record the session again with --bus-log-full");
        return nullptr;
    }
    return r;
}

int ReplayDriver::ibrd(int ud, void* buffer, long count) {
    const Record* r =
        expectWhole(withHandle("ibrd", ud) + " count=" + std::to_string(count), "read");
    if (!r)
        return ibsta_bits::ERR;
    if (static_cast<long>(r->data.size()) > std::max(count, 0L)) {
        return stopWith("bus log line " + std::to_string(r->line) + ": the read returns " +
                        std::to_string(r->data.size()) + " bytes into a buffer of " +
                        std::to_string(count) + "; the log is damaged");
    }
    std::memcpy(buffer, r->data.data(), r->data.size());
    return answer(*r);
}

int ReplayDriver::ibrdf(int ud, const std::string& fileName) {
    const Record* r = expectWhole(withHandle("ibrdf", ud), "answer");
    if (!r)
        return ibsta_bits::ERR;
    // The bytes go to the file as every backend's ibrdf writes them, in pieces.
    size_t offset = 0;
    const Record record = *r;
    const CallOutcome outcome = readToFile(
        fileName,
        [&](char* buffer, long size) {
            const size_t n = std::min(record.data.size() - offset, static_cast<size_t>(size));
            std::memcpy(buffer, record.data.data() + offset, n);
            offset += n;
            CallOutcome piece;
            piece.status.ibcntl = static_cast<int32_t>(n);
            piece.result = offset < record.data.size() ? ibsta_bits::CMPL : record.result;
            if (n == 0 || offset == record.data.size())
                piece.result |= ibsta_bits::END;  // the last piece ends the loop
            return piece;
        },
        this);
    if (outcome.status.iberr == iberr_codes::EFSO && (outcome.result & ibsta_bits::ERR))
        return settle(outcome.result, outcome.status);
    return answer(record);
}

int ReplayDriver::replay(const std::string& identity) {
    const Record* r = expect(identity);
    return r ? answer(*r) : ibsta_bits::ERR;
}

int ReplayDriver::ibonl(int ud, int online) {
    return replay(withHandle("ibonl", ud) + " online=" + std::to_string(online));
}

int ReplayDriver::ibpad(int ud, int pad) {
    return replay(withHandle("ibpad", ud) + " pad=" + std::to_string(pad));
}

int ReplayDriver::ibrsc(int ud, int request) {
    return replay(withHandle("ibrsc", ud) + " request=" + std::to_string(request));
}

int ReplayDriver::ibsre(int ud, int value) {
    return replay(withHandle("ibsre", ud) + " value=" + std::to_string(value));
}

int ReplayDriver::ibtmo(int ud, int code) {
    return replay(withHandle("ibtmo", ud) + " code=" + std::to_string(code));
}

int ReplayDriver::ibwait(int ud, int mask) {
    return replay(withHandle("ibwait", ud) + " mask=" + staNames(mask));
}

int ReplayDriver::ibloc(int ud) {
    return replay(withHandle("ibloc", ud));
}

int ReplayDriver::ibclr(int ud) {
    return replay(withHandle("ibclr", ud));
}

namespace {
std::string hex(int value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", value);
    return text;
}
}  // namespace

int ReplayDriver::ibconfig(int ud, int option, int value) {
    return replay(withHandle("ibconfig", ud) + " option=" + hex(option) +
                  " value=" + std::to_string(value));
}

int ReplayDriver::ibask(int ud, int option, int* value) {
    const Record* r = expect(withHandle("ibask", ud) + " option=" + hex(option));
    if (!r)
        return ibsta_bits::ERR;
    if (value && r->value)
        *value = *r->value;
    return answer(*r);
}

void ReplayDriver::SendIFC(int board) {
    if (const Record* r = expect("SendIFC board=" + std::to_string(board)))
        answer(*r);
}

std::string ReplayDriver::verdict() {
    if (!problem_.empty() || !reader_)
        return problem_;
    Result<std::optional<Record>> record = reader_->next();
    if (!record)
        return problem_ = record.error();
    if (record->has_value()) {
        problem_ = "the program ended before the bus log did: line " +
                   std::to_string((*record)->line) + " has " + shown((*record)->identity()) +
                   " still to come";
    }
    return problem_;
}

}  // namespace benchcap::bus::log
