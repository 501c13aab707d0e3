#pragma once

// The simulated bench's traffic as text for golden files: one entry as
// "kind address value "data"", bytes below a blank and above '~' as \xNN.

#include <cstdio>
#include <string>

#include "sim/sim_bench.h"

namespace benchcap::test {

inline std::string shownBytes(const std::string& bytes) {
    std::string out;
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02x", u);
        out += u < 0x20 || u > 0x7E ? hex : std::string(1, c);
    }
    return out;
}

inline std::string trafficText(const sim::TrafficEntry& e) {
    static const char* kKinds[] = {"open",   "write", "read",         "read-to-file", "time-out",
                                   "ifc",    "ren",   "set-time-out", "local",        "online",
                                   "config", "wait",  "clear"};
    return std::string(kKinds[static_cast<int>(e.kind)]) + " " + std::to_string(e.address) + " " +
           std::to_string(e.value) + " \"" + shownBytes(e.data) + "\"";
}

}  // namespace benchcap::test
