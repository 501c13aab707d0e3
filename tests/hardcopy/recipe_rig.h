#pragma once

// Runs screenshot recipes on simulated instruments of their kind (`kind: recipe`): a bench
// entry per recipe row, the hardcopy command on a session over any driver, and what it left.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "bus/clock.h"
#include "bus/session.h"
#include "hardcopy/hardcopy_workflow.h"
#include "recipes/recipe_book.h"
#include "sim/bench_config.h"
#include "sim/recipe_instrument.h"
#include "support/bench_rig.h"
#include "support/test_paths.h"
#include "trace/trace_recipe.h"

namespace benchcap::test {

inline const recipes::RecipeBook& shippedBook() {
    static const recipes::RecipeBook book = recipes::RecipeBook::shipped().value();
    return book;
}

// A bench of instruments for `rows` at addresses 1, 2, ...; `extra` (", key: value") is
// added to every entry.
inline std::string recipeBench(const std::vector<const recipes::Recipe*>& rows,
                               const std::string& extra = "") {
    std::string yaml = "instruments:\n";
    int address = 0;
    for (const recipes::Recipe* row : rows) {
        std::string entry = recipes::benchEntryFor(*row, ++address);
        yaml += "  - " + entry.insert(entry.size() - 1, extra) + "\n";
    }
    return yaml;
}

struct RecipeShot {
    hardcopy::HardcopyOutcome outcome;
    std::vector<std::string> files;  // in the output folder afterwards
    std::string picture;             // the file's bytes when written
    std::string error;               // SYST:ERR? afterwards: what the instrument did not take
    std::vector<bus::testing::RecordedBox> boxes;
};

// The hardcopy command on the instrument at `address` with the shipped recipes.
// `stopAfter` > 0: a stop request comes at the session's stopAfter-th interrupt check.
inline RecipeShot takeRecipeShot(bus::GpibDriver& driver, int address,
                                 const std::string& forced = "", int stopAfter = 0) {
    bus::CurrentInstrument instrument;
    bus::Session session(driver, instrument);
    bus::VirtualClock clock;
    bus::testing::ScriptedUserInterface ui;
    std::string drive;
    const std::filesystem::path dir = makeTempDir("recipe");
    hardcopy::HardcopyServices services{session, drive, ui, nullptr, [&dir](std::string_view ext) {
                                            return (dir / ("shot." + std::string(ext))).string();
                                        }};
    services.recipes = &shippedBook();
    services.recipeName = forced;
    services.clock = &clock;
    session.SelectAndIdentify(0, static_cast<int16_t>(address));
    int checks = 0;
    if (stopAfter > 0)
        session.setInterruptCheck([&checks, stopAfter] { return ++checks >= stopAfter; });
    RecipeShot shot;
    shot.outcome = hardcopy::HardcopyByModel(services, {});
    shot.files = filesIn(dir);
    if (shot.outcome.written)
        shot.picture = readFile(shot.outcome.file);
    instrument.IsReady = true;
    session.setInterruptCheck(nullptr);
    shot.error = session.QueryDevice("SYST:ERR?");
    shot.error = shot.error.substr(0, shot.error.find('\n'));
    shot.boxes = ui.boxes();
    std::filesystem::remove_all(dir);
    return shot;
}

// Trace `number` of the instrument at `address` by `row`, as the trace command reads it;
// `stopAfter` as for takeRecipeShot.
inline trace::TraceCommandResult readRecipeTrace(bus::GpibDriver& driver, int address,
                                                 const recipes::Recipe& row, int number,
                                                 trace::TraceState& state, int stopAfter = 0) {
    bus::CurrentInstrument instrument;
    bus::Session session(driver, instrument);
    session.SelectAndIdentify(0, static_cast<int16_t>(address));
    int checks = 0;
    if (stopAfter > 0)
        session.setInterruptCheck([&checks, stopAfter] { return ++checks >= stopAfter; });
    return trace::RunTraceRecipe(session, row, number, ',', state);
}

// The picture the instrument for `row` sends.
inline std::string servedPicture(const recipes::Recipe& row) {
    return sim::recipeInstrumentPicture(benchConfig(recipeBench({&row})).instruments.at(0));
}

// Every shipped row, by name for the test's messages.
inline std::vector<const recipes::Recipe*> shippedRows() {
    std::vector<const recipes::Recipe*> rows;
    for (const recipes::Recipe& row : shippedBook().rows())
        rows.push_back(&row);
    return rows;
}

// The outcome of one shot as a line: way, written, the picture's match, the errors.
inline std::string shotSummary(const RecipeShot& shot, const std::string& expected) {
    return std::string(shot.outcome.way == hardcopy::HardcopyWay::Recipe ? "recipe" : "other") +
           (shot.outcome.written ? ", written" : ", not written: " + shot.outcome.status.error()) +
           (shot.picture == expected ? ", same picture" : ", other picture") + ", files " +
           std::to_string(shot.files.size()) + ", instrument: " + shot.error;
}

}  // namespace benchcap::test
