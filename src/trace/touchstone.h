#pragma once

// Network analyzer traces as Touchstone files: S-parameters as real and imaginary parts
// over frequency, the exchange format of circuit simulators. One channel makes a
// one-port file (.s1p); four channels holding S11, S21, S12 and S22 of one sweep make a
// two-port file (.s2p). Version 1.1 or 2.0; always '.' as the decimal point, since
// Touchstone readers do not follow regional settings.

#include <cstddef>
#include <filesystem>
#include <span>
#include <string>

#include "base/output_file.h"
#include "base/result.h"
#include "trace/trace_data.h"

namespace benchcap::trace {

enum class TouchstoneVersion { V1_1, V2_0 };

// One analyzer channel as read: its data set (a network trace in a complex format), the
// channel number the messages name, and the S-parameter it measures ("S21") when known.
struct TouchstoneChannel {
    const TraceDataSet* data = nullptr;
    int number = 0;
    std::string parameter;  // empty: unknown
};

struct TouchstoneOptions {
    TouchstoneVersion version = TouchstoneVersion::V1_1;
    std::string identity;  // the instrument's *IDN? answer, for a comment line; may be empty
};

// The file name extension for `ports` ports: ".s1p", ".s2p".
std::string TouchstoneExtension(std::size_t ports);

// The whole file for one channel (.s1p) or four channels in the order S11, S21, S12, S22
// (.s2p). Refused, with the reason and what to do, before anything is built: a channel
// count other than 1 or 4, a trace that is not a network trace or is in a real format, a
// channel whose known parameter is not the one its place needs, stimulus values that are
// not finite or not strictly ascending, four channels of different sweeps. A strictly
// descending sweep (an analyzer sweeping downwards) is written in ascending order, every
// point with its own values. Frequencies are written as the exact value of their 32-bit
// float, values with 10 significant digits (exact as floats, within 5e-10 as doubles).
Result<std::string> TouchstoneText(std::span<const TouchstoneChannel> channels,
                                   const TouchstoneOptions& options);

// Whether `path` suits a Touchstone file of `ports` ports: the extension of its port count
// (".s2p"; any case), or ".ts" for version 2.0, which names its port count inside. Version
// 1.1 readers know the port count only from the extension. Refused with what to do.
Status CheckTouchstoneName(const std::filesystem::path& path, std::size_t ports,
                           TouchstoneVersion version);

// TouchstoneText into `path` (CheckTouchstoneName) through OutputFile. On failure the file
// that was there stays as it was.
Status WriteTouchstone(const std::filesystem::path& path,
                       std::span<const TouchstoneChannel> channels,
                       const TouchstoneOptions& options,
                       const FileCalls& calls = FileCalls::system());

}  // namespace benchcap::trace
