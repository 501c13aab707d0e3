#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <future>

#include "recipe_rig.h"
#include "recipes/recipe_book.h"

namespace benchcap::test {
namespace {

using recipes::RecipeBook;

// Every shipped row, end to end on its simulated instrument: taken by that row (not by the
// model table, not by an earlier row), the same picture byte for byte, nothing left in the
// instrument's error queue (it got only what it understands).
TEST(ShippedRecipes, EveryRowTakesItsInstrumentsPicture) {
    EXPECT_GE(shippedBook().rows().size(), 25U);
    for (const recipes::Recipe* row : shippedRows()) {
        ASSERT_FALSE(row->exampleIdn.empty()) << row->name;
        EXPECT_EQ(shippedBook().match(row->exampleIdn + "\n"), row) << row->name;
        sim::SimBench bench(benchConfig(recipeBench({row})), std::make_shared<bus::VirtualClock>());
        const RecipeShot shot = takeRecipeShot(bench, 1);
        EXPECT_EQ(shotSummary(shot, servedPicture(*row)),
                  "recipe, written, same picture, files 1, instrument: 0,\"No error\"")
            << row->name;
    }
}

// A fault of the instrument fails the named step with a message that says what to do, shows
// it in the box, writes nothing, and still sends the recipe's restore commands.
TEST(ShippedRecipes, FaultsNameRecipeAndStep) {
    struct Row {
        const char* recipe;
        const char* extra;
        const char* error;
        int stopAfter = 0;
    } rows[] = {
        {"keysight-infiniivision-x", ", picture_format: BMP",
         "recipe keysight-infiniivision-x, step fetch: the instrument sent a BMP picture where "
         "the recipe expects PNG; check the recipe's format and its produce command."},
        {"rigol-ds1000z", ", faults: {block_cut_after: 1024}",
         "recipe rigol-ds1000z, step fetch: the block broke off after 1024 of "},
        {"tektronix-mdo-mso4000", ", never_completes: true",
         "recipe tektronix-mdo-mso4000, step wait: the instrument did not complete within 20 s "
         "(no answer to *OPC?); check it for an error message, or raise timeout_s."},
        {"tektronix-mso456", ", busy_polls: 1000",
         "recipe tektronix-mso456, step wait: the answer to BUSY? did not match '^0$' within "
         "20 s (last: \"1\"); check the instrument, or raise timeout_s."},
        {"siglent-sds", ", picture_format: GIF",
         "recipe siglent-sds, step fetch: no picture came (the instrument went silent)."},
        // A stop while the instrument is still busy ends the wait at once.
        {"tektronix-mso456", ", busy_polls: 1000", "Interrupted.", 8},
    };
    for (const Row& r : rows) {
        const recipes::Recipe* row = shippedBook().named(r.recipe);
        ASSERT_NE(row, nullptr) << r.recipe;
        sim::SimBench bench(benchConfig(recipeBench({row}, r.extra)),
                            std::make_shared<bus::VirtualClock>());
        const RecipeShot shot = takeRecipeShot(bench, 1, "", r.stopAfter);
        EXPECT_EQ(shot.outcome.status.error().substr(0, std::string(r.error).size()), r.error);
        EXPECT_TRUE(shot.files.empty()) << r.recipe;
        // A stop is the user's own doing: no box to acknowledge.
        ASSERT_EQ(shot.boxes.size(), r.stopAfter ? 0U : 1U) << r.recipe;
        if (!r.stopAfter) {
            EXPECT_NE(shot.boxes[0].text.find(row->name + ", step"), std::string::npos);
        }
        const auto writes = bench.writesTo(1);
        for (const std::string& restore : row->screen.restore)
            EXPECT_EQ(writes.at(writes.size() - 2), restore) << r.recipe;  // then SYST:ERR?
    }
}

// The model table's families never go by recipe; a forced recipe name that no row has is
// refused before anything is sent; without a recipe book an unknown instrument is offered
// the plotter as before (tests/hardcopy/workflow_test.cpp).
TEST(ShippedRecipes, ForcedNameMustExist) {
    sim::SimBench bench(benchConfig(recipeBench({shippedBook().named("siglent-sdg")})),
                        std::make_shared<bus::VirtualClock>());
    const RecipeShot unknown = takeRecipeShot(bench, 1, "no-such-row");
    EXPECT_EQ(unknown.outcome.status.error(),
              "There is no screenshot recipe named \"no-such-row\". List the recipes with "
              "\"benchcap-cli recipes\".");
    const RecipeShot forced = takeRecipeShot(bench, 1, "siglent-sds");
    EXPECT_TRUE(forced.outcome.written) << forced.outcome.status.error();
}

// Bad recipe files, each refused with the row, the key and why.
TEST(RecipeFile, BadFilesAreRefusedWithRowAndKey) {
    const std::string good = "{name: a, match: '^X', kind: meter, screen: {produce: P, format: PNG";
    const std::pair<std::string, std::string> rows[] = {
        // An unknown key in any section, named with its own line.
        {"recipes: [" + good + ", colour: red}}]",
         "f line 1: recipe a, key 'screen.colour': unknown key"},
        {"recipes: [" + good + "}, trace: {query: Q,\n  fromat: real32}}]",
         "f line 2: recipe a, key 'trace.fromat': unknown key"},
        {"recipes: [" + good + ", wait: {pol: 'BUSY?'}}}]",
         "f line 1: recipe a, key 'screen.wait.pol': unknown key"},
        {"recipes: [" + good + ", fetch: {read: R, delet: D}}}]",
         "f line 1: recipe a, key 'screen.fetch.delet': unknown key"},
        {"recipes: [" + good + "}, colour: red}]", "f line 1: recipe a, key 'colour': unknown key"},
        {"recipes: []\nrows: []", "f line 2: key 'rows': unknown key"},
        {"recipes: [" + good + "}, trace: {query: Q, query: R}}]",
         "f line 1: recipe a, key 'trace.query': given twice"},
        {"recipes: [{name: a, match: x, kind: meter, screen: {format: PNG}}]",
         "f line 1: recipe a, key 'screen.produce': missing"},
        {"recipes: [" + good + ", framing: pipe}}]",
         "f line 1: recipe a, key 'screen.framing': must be one of block, end, raw"},
        {"recipes: [" + good + ", wait: {poll: 'BUSY?', until: '(a)\\1'}}}]",
         "f line 1: recipe a, key 'screen.wait.until': not a valid regular expression in RE2 "
         "syntax (invalid escape sequence: \\1); RE2 has no backreferences or lookaround"},
        // A command is one message: a line break or NUL in it would send two, or cut it.
        {"recipes: [" + good + ",\n  prepare: [A, \"SAVE \\\"x\\\"\\r\\n:SYST:POW OFF\"]}}]",
         "f line 2: recipe a, key 'screen.prepare': a command must not hold a line break or NUL "
         "(CR, LF, NUL); write one command per list item"},
        {"recipes: [" + good + "}, trace: {query: \"Q\\0\"}}]",
         "f line 1: recipe a, key 'trace.query': a command must not hold"},
        {"recipes: [" + good + ", fetch: {save: S}}}]",
         "f line 1: recipe a, key 'screen.fetch.read': missing"},
        {"recipes: [" + good + ", timeout_s: 5000}}]",
         "f line 1: recipe a, key 'screen.timeout_s': must lie in 0..1000"},
        {"recipes: [{name: a, match: '^X', kind: meter, example_idn: Y, screen: {produce: P, "
         "format: PNG}}]",
         "f line 1: recipe a, key 'example_idn': the row's match does not take it"},
        {"recipes: [" + good + "}, trace: {query: Q, start: A, stop: B, step: C}}]",
         "f line 1: recipe a, key 'trace': give stop or step, not both"},
        {"recipes: [" + good + "}, trace: {query: Q, traces: 9}}]",
         "f line 1: recipe a, key 'trace.traces': must be a whole number in 1..8"},
        {"recipes: [" + good + "}}, " + good + "}}]",
         "f line 1: recipe a, key 'name': given to two rows"},
        {"recipes: [{match: x}]", "f line 1: key 'name': row 1 has no name"},
        {"rows: []", "f line 1: a recipe file is a mapping with the key 'recipes'"},
        {"recipes: [", "f line 1: not valid YAML"},
        {std::string(recipes::kMaxRecipeFileBytes + 1, '#'), "f: larger than 1024 KB"},
    };
    for (const auto& [text, message] : rows) {
        const Result<RecipeBook> book = RecipeBook::parse(text, "f");
        EXPECT_EQ(book.error().substr(0, message.size()), message) << text;
    }
}

// Patterns run on what instruments answer, in time linear in the answer, for `match` and a
// poll's `until` alike: one that backtracks for minutes elsewhere says "no match" at once.
// An answer is looked at up to kMaxMatchedText. A deadline turns a hang into a failure.
TEST(RecipeFile, PatternsMatchInLinearTime) {
    const RecipeBook book =
        RecipeBook::parse(
            "recipes: [{name: a, match: '^(a+)+$', kind: meter, screen: {produce: "
            "P, format: PNG, wait: {poll: 'BUSY?', until: '^(a+)+$'}}}]",
            "f")
            .value();
    const std::string a40(40, 'a'), past(recipes::kMaxMatchedText, 'a');
    // On the heap, with its own copy of the book: a future left running is never waited for.
    auto* found = new std::future<std::string>(std::async(std::launch::async, [=] {
        std::string out;
        for (const std::string& answer : {a40 + "!", a40, past + "!"})
            out += std::to_string(book.match(answer) != nullptr) +
                   std::to_string(book.rows()[0].screen.wait.until.search(answer)) + " ";
        return out;
    }));
    ASSERT_EQ(found->wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(found->get(), "00 11 11 ");
    delete found;
}

// The user's recipes.yaml overrides a shipped row of the same name and adds its new rows
// after the shipped ones; a broken user file is named with what to do.
TEST(RecipeFile, UserFileOverridesAndAdds) {
    const std::filesystem::path dir = makeTempDir("recipes");
    std::ofstream(dir / recipes::kUserRecipesFile)
        << "recipes:\n"
           "  - {name: rigol-ds1000z, match: '^RIGOL', kind: oscilloscope,\n"
           "     screen: {produce: ':DISP:DATA? ON,0,BMP', format: BMP}}\n"
           "  - {name: my-meter, match: '^ACME,M1', kind: meter, screen: {produce: 'HCOP?', "
           "format: BMP, framing: end}}\n";
    const Result<RecipeBook> book = RecipeBook::load(dir);
    ASSERT_TRUE(book) << book.error();
    EXPECT_EQ(book->rows().size(), shippedBook().rows().size() + 1);
    EXPECT_EQ(book->named("rigol-ds1000z")->screen.produce, ":DISP:DATA? ON,0,BMP");
    EXPECT_EQ(book->match("ACME,M1,1,1\n")->name, "my-meter");
    EXPECT_EQ(book->match("RIGOL TECHNOLOGIES,DS1104Z,X,1")->origin,
              (dir / recipes::kUserRecipesFile).string());
    std::ofstream(dir / recipes::kUserRecipesFile) << "recipes: [{name: x}]\n";
    EXPECT_EQ(RecipeBook::load(dir).error(),
              (dir / recipes::kUserRecipesFile).string() +
                  " line 1: recipe x, key 'match': missing. Fix the row or remove it from the "
                  "file.");
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace benchcap::test
