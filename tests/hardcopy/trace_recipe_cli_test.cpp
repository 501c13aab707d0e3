#include <gtest/gtest.h>

#include "cli/cli_runner.h"
#include "recipe_rig.h"
#include "trace/general_number.h"

namespace benchcap::test {
namespace {

// benchcap-cli trace on instruments of other makers: by the matching recipe, by a forced
// one, a number the row does not offer, and an unknown instrument without a recipe as
// before; `--config` is an empty folder so the user's own recipes stay out.
TEST(TraceRecipeCli, ReadsByRecipe) {
    const std::filesystem::path dir = makeTempDir("trace-recipe-cli");
    const std::string bench =
        simBench(recipeBench({shippedBook().named("keysight-x-series-sa"),
                              shippedBook().named("rigol-ds1000z")}) +
                 "  - {address: 3, kind: other-maker, idn: \"Acme,X,1,1\"}\n");
    const sim::RecipeTrace sent = sim::recipeInstrumentTrace(2);
    const std::string line = "\n" + trace::FormatGeneral(sent.start + 100 * sent.step) + "\t" +
                             trace::FormatGeneral(sent.values[100]) + "\r\n";
    const struct {
        std::vector<std::string> args;
        int code;
        std::string out;  // what standard output or error holds
    } runs[] = {
        {{"1", "2"}, 0, line},
        {{"1", "7"}, 1, "Trace 7 is not supported by the instrument!"},
        {{"2", "1", "--recipe", "rs-rtb-rtm-rta"}, 1, "recipe rs-rtb-rtm-rta, step data: "},
        {{"2", "1", "--recipe", "siglent-sdg"}, 2, "no recipe named 'siglent-sdg' with a trace"},
        {{"3", "1"}, 1, "Trace data is not supported for unknown"},
    };
    for (const auto& run : runs) {
        std::vector<std::string> args = {"--interface", bench, "trace"};
        args.insert(args.end(), run.args.begin(), run.args.end());
        args.insert(args.end(), {"--config", dir.string(), "--locale", "C"});
        const CliResult r = runCliInProcess(args);
        EXPECT_EQ(r.code, run.code) << run.args[0] << r.err;
        EXPECT_NE((r.out + r.err).find(run.out), std::string::npos) << r.err;
    }
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace benchcap::test
