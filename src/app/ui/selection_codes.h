#pragma once

#include <cstdint>

namespace benchcap::app {

// What a device type code does on the main window: whether a scan that finds it counts
// as "instruments found", whether a click on its indicator is refused, and what selecting
// its address does to "Read trace data" and "trace 4".
enum class TraceMenus {
    Keep,              // both keep their state
    TraceOnTrace4On,   // analyzers with four traces
    TraceOnTrace4Off,  // analyzers with three traces
    TraceOff,          // no trace readout
};

struct SelectionRule {
    int32_t code;
    bool countsAsFound;
    bool refused;
    TraceMenus menus;
};

// The rule of a code; codes not in the table (0, 99, 17, 33, ...) count as not found,
// are accepted and keep the menus.
SelectionRule selectionRule(int32_t code);

// The notice of a refused indicator click.
inline constexpr const char* kRefusedText =
    "This device does not support hardcopy or trace readout functions.";

}  // namespace benchcap::app
