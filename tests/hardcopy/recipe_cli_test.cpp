#include <gtest/gtest.h>

#include <fstream>

#include "cli/cli_runner.h"
#include "recipe_rig.h"

namespace benchcap::test {
namespace {

// benchcap-cli recipes and hardcopy by recipe on one bench: a recipe instrument (its entry
// as `recipes --bench-entry` prints it), an unknown instrument and one of Benchcap's own
// families; `--config` is an empty folder so the user's own recipes stay out.
TEST(RecipeCli, ListsMatchesAndTakesPictures) {
    const std::filesystem::path dir = makeTempDir("recipe-cli");
    const std::string config = dir.string();
    const CliResult entry =
        runCliInProcess({"recipes", "4", "--bench-entry", "rs-rtb-rtm-rta", "--config", config});
    ASSERT_EQ(entry.code, 0) << entry.err;
    const std::string bench =
        simBench("instruments:\n" + entry.out +
                 "  - {address: 3, kind: other-maker, idn: \"Acme,X,1,1\"}\n"
                 "  - {address: 7, kind: spectrum-analyzer, idn: \"Veltronik,KLT-3,1,1.70\"}\n");
    const std::string shot = (dir / "shot.png").string();
    const struct {
        std::vector<std::string> args;
        int code;
        std::string out;  // what the output holds
    } runs[] = {
        {{"recipes"}, 0, "rs-rtb-rtm-rta\toscilloscope\tPNG\t^Rohde&Schwarz,RT[BMA]\\d\t"},
        {{"--interface", bench, "recipes", "4"},
         0,
         "GPIB 4: Rohde&Schwarz,RTB2004,1333.1005k04/100000,02.300\nrecipe rs-rtb-rtm-rta "
         "(oscilloscope, PNG) from shipped recipes\n"},
        {{"--interface", bench, "recipes", "3"}, 1, "GPIB 3: Acme,X,1,1\n"},
        {{"--interface", bench, "scan"},
         0,
         "04\t99\tgreen\tAddr 4: screen by recipe rs-rtb-rtm-rta\t"},
        {{"--interface", bench, "recipes", "7"}, 0, "Benchcap knows the KLT itself"},
        {{"--interface", bench, "hardcopy", "4", "-o", shot}, 0, "written: " + shot},
        {{"--interface", bench, "hardcopy", "3", "-o", shot, "--recipe", "no-such"}, 1, ""},
        {{"recipes", "--bench-entry", "no-such"}, 2, ""},
    };
    for (const auto& run : runs) {
        std::vector<std::string> args = run.args;
        args.insert(args.end(), {"--config", config});
        const CliResult r = runCliInProcess(args);
        EXPECT_EQ(r.code, run.code) << args[args.size() - 3] << r.err;
        EXPECT_NE(r.out.find(run.out), std::string::npos) << r.out;
    }
    EXPECT_EQ(readFile(shot), servedPicture(*shippedBook().named("rs-rtb-rtm-rta")));
    // A broken user file stops the command before the bus, naming the file and the row.
    std::ofstream(dir / "recipes.yaml") << "recipes: [{name: x}]\n";
    const CliResult broken = runCliInProcess({"recipes", "--config", config});
    EXPECT_EQ(broken.code, 2);
    EXPECT_NE(broken.err.find("recipes.yaml line 1: recipe x, key 'match': missing"),
              std::string::npos)
        << broken.err;
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace benchcap::test
