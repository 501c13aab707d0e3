#pragma once

// Instruments of other makers on the simulated bench (`kind: recipe`): each serves exactly
// what one screenshot recipe asks of it — the commands it accepts, the picture on its
// produce query or in its memory file, *OPC?, a busy query, the framing — so every
// recipe can be run end to end without the instrument; with trace_* keys it also serves
// the row's trace (recipeInstrumentTrace) in its format, byte order and framing. Anything else it
// receives goes to its error queue (SYST:ERR?), as a real instrument would do.

#include <memory>
#include <string>
#include <vector>

#include "sim/bench_keys.h"
#include "sim/sim_instrument.h"

namespace benchcap::sim {

std::vector<KeySpec> recipeInstrumentKeys();
std::unique_ptr<SimInstrument> createRecipeInstrument(const InstrumentConfig& config,
                                                      bus::Clock& clock);

// The picture bytes such an instrument sends (its `picture` file, or its screen drawn in
// its `picture_format`); empty when it cannot draw that format.
std::string recipeInstrumentPicture(const InstrumentConfig& config);

// The trace a recipe instrument serves as trace `traceNumber`: a few peaks over noise,
// placed by the number, and the numbers it answers to the axis queries (the same for
// every trace).
struct RecipeTrace {
    std::vector<float> values;
    double start = 0;
    double stop = 0;
    double step = 0;
};
RecipeTrace recipeInstrumentTrace(int traceNumber);

// A PNG file of a 24-bit bottom-up bitmap (what RenderBmp writes); empty for anything else.
std::string PngFromBmp(const std::string& bmp);

}  // namespace benchcap::sim
