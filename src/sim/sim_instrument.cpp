#include "sim/sim_instrument.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>

#include "bus/clock.h"

namespace benchcap::sim {
namespace {

std::string upper(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() &&
           (s.back() == ' ' || s.back() == '\t' || s.back() == '\n' || s.back() == '\r')) {
        s.remove_suffix(1);
    }
    return s;
}

}  // namespace

std::vector<std::string> splitCommands(std::string_view message) {
    std::vector<std::string> out;
    std::string current;
    char quote = 0;
    for (char c : message) {
        if (quote) {
            if (c == quote)
                quote = 0;
        } else if (c == '\'' || c == '"') {
            quote = c;
        } else if (c == ';') {
            out.push_back(current);
            current.clear();
            continue;
        }
        current.push_back(c);
    }
    out.push_back(current);
    return out;
}

Command parseCommand(std::string_view command) {
    Command cmd;
    cmd.raw = std::string(command);
    std::string_view s = trimBlanks(command);
    size_t end = 0;
    while (end < s.size() && s[end] != ' ' && s[end] != '\t')
        ++end;
    cmd.header = upper(s.substr(0, end));
    cmd.args = std::string(trimBlanks(s.substr(end)));
    return cmd;
}

SimInstrument::SimInstrument(InstrumentConfig config, bus::Clock& clock)
    : config_(std::move(config)), clock_(clock) {
    const YAML::Node faults = config_.node["faults"];
    if (faults) {
        if (faults["block_cut_after"])
            blockCutAfter_ = faults["block_cut_after"].as<int64_t>();
        if (faults["block_header"])
            blockHeader_ = faults["block_header"].as<std::string>();
        if (faults["silent_after"])
            silentAfter_ = faults["silent_after"].as<int>();
        if (faults["bus_error_after"])
            busErrorAfter_ = faults["bus_error_after"].as<int64_t>();
        if (faults["silent_from_s"]) {
            silentFrom_ = std::llround(faults["silent_from_s"].as<double>() * 1e6);
            silentUntil_ = faults["silent_until_s"]
                               ? std::llround(faults["silent_until_s"].as<double>() * 1e6)
                               : INT64_MAX;
        }
        if (faults["late_answer_from_s"]) {
            lateFrom_ = std::llround(faults["late_answer_from_s"].as<double>() * 1e6);
            lateUntil_ = faults["late_answer_until_s"]
                             ? std::llround(faults["late_answer_until_s"].as<double>() * 1e6)
                             : INT64_MAX;
            lateByMicros_ = std::llround(
                (faults["late_answer_by_s"] ? faults["late_answer_by_s"].as<double>() : 2.0) * 1e6);
        }
    }
    if (config_.node["rate_bytes_per_s"])
        bytesPerSecond_ = config_.node["rate_bytes_per_s"].as<double>();
    on("*IDN?", [this](const Command&) { respond(config_.idn); });
    on("*OPT?", [this](const Command&) { respond(config_.options); });
    on("*WAI", [](const Command&) {});
    on("*CLS", [this](const Command&) { errors_.clear(); });
    on("*RST", [](const Command&) {});
    on("SYST:ERR?", [this](const Command&) {
        if (errors_.empty()) {
            respond("0,\"No error\"");
        } else {
            respond(errors_.front());
            errors_.erase(errors_.begin());
        }
    });
}

void SimInstrument::on(const std::string& header, Handler handler) {
    const std::string key = upper(header);
    for (auto& [h, fn] : handlers_) {
        if (h == key) {
            fn = std::move(handler);
            return;
        }
    }
    handlers_.emplace_back(key, std::move(handler));
}

void SimInstrument::respond(std::string_view text) {
    std::string bytes(text);
    bytes.push_back('\n');
    respondRaw(std::move(bytes), true);
}

void SimInstrument::respondRaw(std::string bytes, bool eoi) {
    output_.push_back(OutputChunk{std::move(bytes), eoi});
}

void SimInstrument::respondBlock(std::string_view data) {
    std::string header;
    if (blockHeader_) {
        header = *blockHeader_;
    } else {
        const std::string length = std::to_string(data.size());
        header = "#" + std::to_string(length.size()) + length;
    }
    if (blockCutAfter_ && *blockCutAfter_ < static_cast<int64_t>(data.size())) {
        // The instrument stops in the middle of the block: no terminator, no EOI.
        const auto cut = static_cast<size_t>(std::max<int64_t>(0, *blockCutAfter_));
        respondBulk(header + std::string(data.substr(0, cut)), false, header.size());
        return;
    }
    std::string bytes;
    bytes.reserve(header.size() + data.size() + 1);
    bytes += header;
    bytes += data;
    bytes.push_back('\n');
    respondBulk(std::move(bytes), true, header.size());
}

void SimInstrument::respondBulk(std::string bytes, bool eoi, std::size_t dataStart) {
    OutputChunk chunk{std::move(bytes), eoi};
    chunk.bytesPerSecond = bytesPerSecond_;
    if (busErrorAfter_ &&
        dataStart + static_cast<std::size_t>(*busErrorAfter_) < chunk.bytes.size())
        chunk.busErrorAt = dataStart + static_cast<std::size_t>(*busErrorAfter_);
    if (const int64_t now = clock_.nowMicros(); now >= lateFrom_ && now < lateUntil_)
        chunk.readyAtMicros = now + lateByMicros_;
    output_.push_back(std::move(chunk));
}

void SimInstrument::pushError(int code, const std::string& text) {
    // A real error queue holds a few entries; when it is full the last one says so
    // (SCPI -350), so an instrument that runs for days does not pile up its errors.
    if (errors_.size() >= kErrorQueueLength) {
        errors_.back() = "-350,\"Queue overflow\"";
        return;
    }
    errors_.push_back(std::to_string(code) + ",\"" + text + "\"");
}

void SimInstrument::receiveMessage(std::string_view message) {
    for (const std::string& command : splitCommands(message)) {
        if (trimBlanks(command).empty())
            continue;
        if (silentAfter_ && commandsAnswered_ >= *silentAfter_)
            return;
        if (const int64_t now = clock_.nowMicros(); now >= silentFrom_ && now < silentUntil_)
            return;
        ++commandsAnswered_;
        dispatch(command);
    }
}

void SimInstrument::dispatch(std::string_view text) {
    const Command cmd = parseCommand(text);
    for (const auto& [header, handler] : handlers_) {
        if (header == cmd.header) {
            handler(cmd);
            return;
        }
    }
    if (!unhandled(cmd))
        pushError(-113, "Undefined header");
}

std::optional<int64_t> SimInstrument::talkDelayMicros(int) const {
    return std::nullopt;
}

}  // namespace benchcap::sim
