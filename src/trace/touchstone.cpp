#include "trace/touchstone.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <string_view>

#include "bus/text.h"

namespace benchcap::trace {
namespace {

// The S-parameter each place of a two-port file holds, in the order the caller gives the
// channels (and version 1.1 writes them).
constexpr std::array<std::string_view, 4> kTwoPortOrder = {"S11", "S21", "S12", "S22"};
// Version 2.0 writes "[Two-Port Data Order] 12_21": S11 S12 S21 S22, channels 0, 2, 1, 3.
constexpr std::array<std::size_t, 4> kOrder12_21 = {0, 2, 1, 3};
constexpr std::array<std::size_t, 4> kOrder21_12 = {0, 1, 2, 3};

// Room for one number and its leading blank.
constexpr std::size_t kNumberRoom = 40;

// A frequency: the exact value of its float, in the shortest form that reads back as that
// double; in Hz without an exponent ("1500000000") where that stays short.
char* writeFrequency(char* out, float value) {
    const double hz = value;
    const bool plain = hz == 0 || (hz >= 1e-3 && hz < 1e15);
    return std::to_chars(out, out + kNumberRoom, hz,
                         plain ? std::chars_format::fixed : std::chars_format::general)
        .ptr;
}

// A value: 10 significant digits, one more than a float needs to read back exactly, so a
// reader in double precision is within 5e-10 of it.
char* writeValue(char* out, float value) {
    *out++ = ' ';
    return std::to_chars(out, out + kNumberRoom, static_cast<double>(value),
                         std::chars_format::general, 10)
        .ptr;
}

std::string hertz(float value) {
    char text[kNumberRoom];
    return std::string(text, writeFrequency(text, value)) + " Hz";
}

std::string channelName(const TouchstoneChannel& channel) {
    return "channel " + std::to_string(channel.number);
}

std::string upper(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

Error refused(std::string message) {
    return fail(ErrorKind::Refused, endSentence(std::move(message)));
}

// What makes one channel unfit for Touchstone, with what to do about it.
Status checkChannel(const TouchstoneChannel& channel) {
    const std::string name = channelName(channel);
    if (!channel.data || channel.data->Empty())
        return refused(name + " holds no trace: read it from the network analyzer first");
    const TraceDataSet& data = *channel.data;
    if (!data.IsNetworkTrace) {
        return refused("Touchstone holds S-parameters of a network analyzer; " + name +
                       " is an analyzer's trace, not a network analyzer's channel");
    }
    if (!data.IsPairs || data.values.size() != 2 * data.axis32.size()) {
        return refused("Touchstone holds complex values (real and imaginary part per point); " +
                       name + " is in a real format (" + std::to_string(data.values.size()) +
                       " values for " + std::to_string(data.axis32.size()) +
                       " points): set the channel's format on the analyzer to real and "
                       "imaginary (complex) and read it again");
    }
    for (std::size_t i = 0; i < data.values.size(); ++i) {
        if (!std::isfinite(data.values[i])) {
            return refused(name + ", point " + std::to_string(i / 2 + 1) +
                           ": the value is not a finite number, which Touchstone cannot hold; "
                           "read the channel again once the analyzer shows a valid trace");
        }
    }
    return {};
}

// Whether the sweep is written backwards (a strictly descending sweep), or why it cannot be
// written: Touchstone frequencies ascend strictly.
Result<bool> sweepDirection(const TouchstoneChannel& channel) {
    const std::vector<float>& f = channel.data->axis32;
    const std::string name = channelName(channel);
    const std::string fix =
        ": Touchstone needs strictly ascending frequencies; set a frequency "
        "sweep on the analyzer and read the channel again";
    for (std::size_t i = 0; i < f.size(); ++i) {
        if (!std::isfinite(f[i]) || f[i] < 0) {
            return refused(name + ", point " + std::to_string(i + 1) + ": the stimulus value " +
                           hertz(f[i]) + " is not a frequency" + fix);
        }
    }
    const bool descending = f.size() > 1 && f[1] < f[0];
    for (std::size_t i = 1; i < f.size(); ++i) {
        if (f[i] == f[i - 1]) {
            return refused(name + ": points " + std::to_string(i) + " and " +
                           std::to_string(i + 1) + " are both at " + hertz(f[i]) +
                           " (a sweep at a fixed frequency or over time has no frequency axis)" +
                           fix);
        }
        if ((f[i] < f[i - 1]) != descending) {
            return refused(name + ": the sweep turns at point " + std::to_string(i + 1) + " (" +
                           hertz(f[i - 1]) + ", then " + hertz(f[i]) + ")" + fix);
        }
    }
    return descending;
}

// Four channels must be one sweep: the same stimulus values, point by point.
Status checkSameSweep(std::span<const TouchstoneChannel> channels) {
    const TouchstoneChannel& first = channels.front();
    const std::vector<float>& f = first.data->axis32;
    const std::string fix =
        ": the four S-parameters of a two-port file must come from one "
        "sweep; set the same stimulus on all four channels and read them "
        "again";
    for (const TouchstoneChannel& other : channels.subspan(1)) {
        const std::vector<float>& g = other.data->axis32;
        if (g.size() != f.size()) {
            return refused(channelName(other) + " has " + std::to_string(g.size()) + " points, " +
                           channelName(first) + " " + std::to_string(f.size()) + fix);
        }
        const auto differs = std::mismatch(f.begin(), f.end(), g.begin());
        if (differs.first != f.end()) {
            const auto i = static_cast<std::size_t>(differs.first - f.begin());
            return refused(channelName(other) + ", point " + std::to_string(i + 1) + ": " +
                           hertz(g[i]) + ", " + channelName(first) + ": " + hertz(f[i]) + fix);
        }
    }
    return {};
}

}  // namespace

std::string TouchstoneExtension(std::size_t ports) {
    return ".s" + std::to_string(ports) + "p";
}

Result<std::string> TouchstoneText(std::span<const TouchstoneChannel> channels,
                                   const TouchstoneOptions& options) {
    if (channels.size() != 1 && channels.size() != 4) {
        return fail(ErrorKind::Usage,
                    "A Touchstone file takes one channel (.s1p) or four (S11, S21, S12 and S22 "
                    "for .s2p), not " +
                        std::to_string(channels.size()) + ".");
    }
    const bool twoPort = channels.size() == 4;
    for (std::size_t c = 0; c < channels.size(); ++c) {
        if (Status fit = checkChannel(channels[c]); !fit)
            return fit.failure();
        const std::string parameter = upper(channels[c].parameter);
        if (twoPort && !parameter.empty() && parameter != kTwoPortOrder[c]) {
            return refused(channelName(channels[c]) + " measures " + parameter + ", but place " +
                           std::to_string(c + 1) + " of a two-port file is " +
                           std::string(kTwoPortOrder[c]) +
                           ": give the channels in the order S11, S21, S12, S22");
        }
    }
    if (twoPort) {
        if (Status same = checkSameSweep(channels); !same)
            return same.failure();
    }
    const Result<bool> reversed = sweepDirection(channels.front());
    if (!reversed)
        return reversed.failure();

    const bool v2 = options.version == TouchstoneVersion::V2_0;
    const std::size_t points = channels.front().data->axis32.size();
    std::string text = "! Written by Benchcap\n";
    if (!options.identity.empty())
        text += "! Instrument: " + bus::OneLine(options.identity) + "\n";
    for (std::size_t c = 0; c < channels.size(); ++c) {
        const std::string parameter =
            twoPort ? std::string(kTwoPortOrder[c]) : upper(bus::OneLine(channels[c].parameter));
        text += "! Channel " + std::to_string(channels[c].number) +
                (parameter.empty() ? "" : ": " + parameter) + "\n";
    }
    if (*reversed)
        text += "! The analyzer swept downwards; the points are written in ascending order.\n";
    if (v2)
        text += "[Version] 2.0\n";
    text += "# HZ S RI R 50\n";
    if (v2) {
        text += "[Number of Ports] " + std::to_string(twoPort ? 2 : 1) + "\n";
        if (twoPort)
            text += "[Two-Port Data Order] 12_21\n";
        text += "[Number of Frequencies] " + std::to_string(points) + "\n[Network Data]\n";
    }

    const std::array<std::size_t, 4>& order = v2 ? kOrder12_21 : kOrder21_12;
    const std::size_t perLine = 1 + 2 * channels.size();
    text.reserve(text.size() + points * perLine * 17 + 16);
    char line[kNumberRoom * 10];  // nine numbers and the line feed
    for (std::size_t p = 0; p < points; ++p) {
        const std::size_t i = *reversed ? points - 1 - p : p;
        char* end = writeFrequency(line, channels.front().data->axis32[i]);
        for (std::size_t c = 0; c < channels.size(); ++c) {
            const std::vector<float>& v = channels[twoPort ? order[c] : 0].data->values;
            end = writeValue(end, v[2 * i]);
            end = writeValue(end, v[2 * i + 1]);
        }
        *end++ = '\n';
        text.append(line, end);
    }
    if (v2)
        text += "[End]\n";
    return text;
}

Status CheckTouchstoneName(const std::filesystem::path& path, std::size_t ports,
                           TouchstoneVersion version) {
    const std::string expected = TouchstoneExtension(ports);
    const std::string extension = upper(path.extension().string());
    const bool v2 = version == TouchstoneVersion::V2_0;
    if (extension == upper(expected) || (v2 && extension == ".TS"))
        return {};
    return fail(ErrorKind::Usage,
                "Cannot write " + path.string() + ": a Touchstone file of " +
                    (ports == 2 ? "two ports" : "one port") + " is named *" + expected +
                    (v2 ? " (or *.ts)" : "") +
                    ", since readers take the port count from the extension; give it that name.");
}

Status WriteTouchstone(const std::filesystem::path& path,
                       std::span<const TouchstoneChannel> channels,
                       const TouchstoneOptions& options, const FileCalls& calls) {
    Result<std::string> text = TouchstoneText(channels, options);
    if (!text)
        return text.failure();
    if (Status name = CheckTouchstoneName(path, channels.size() == 4 ? 2 : 1, options.version);
        !name)
        return name;
    return writeOutputFile(path, *text, calls);
}

}  // namespace benchcap::trace
