#include <gtest/gtest.h>
#include <QtGlobal>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/cli.h"
#include "cli_runner.h"
#include "support/test_paths.h"

namespace benchcap::cli {
namespace {

using CliRun = test::CliResult;
using test::runCliInProcess;

TEST(CliIdn, IdentificationAnswersAndBadArguments) {
    const std::string bench = test::simBench(R"(
instruments:
  - {address: 1, kind: spectrum-analyzer, idn: "Veltronik,KLR20,1,1.6"}
  - {address: 2, kind: other-maker, idn: "Veltronik,"}
  - {address: 3, kind: other-maker, idn: "no commas at all"}
  - {address: 4, kind: spectrum-analyzer, idn: "Veltronik,KLT-3,1,"}
  - {address: 5, kind: silent}
  - {address: 6, kind: other-maker, idn: "\u00e9\u0001,KLW2,1,2.5"}
)");
    const struct {
        std::vector<std::string> args;  // after --interface
        int code;
        std::string text;  // stdout when it ends in a line feed, else part of stdout and stderr
    } cases[] = {
        {{"sim", "idn", "20", "--json"},
         0,
         "{\"address\": 20, \"idn\": \"Veltronik,KLVZ26,100234/003,2.10\\n\", \"model\": "
         "\"KLVZ\", \"full_support\": true, \"ready\": true, \"firmware\": 2.1, "
         "\"firmware_ok\": true, \"hardcopy_drive\": \"C\", \"message\": \"\"}\n"},
        {{bench, "idn", "1", "--json"},
         0,
         "\"firmware_ok\": false, \"hardcopy_drive\": \"C\", \"message\": \"You need firmware "
         "version 1.65 to read out hardcopies over IEEE-bus.\\nYou have firmware version 1.60\""},
        {{bench, "idn", "2", "--json"}, 1, "\"model\": \"unknown\""},
        {{bench, "idn", "3"}, 1, "model:          unknown"},
        {{bench, "idn", "4", "--json"}, 0, "\"firmware\": 0,"},
        {{bench, "idn", "5"}, 1, "No device was found on GPIB 5"},
        {{bench, "idn", "6", "--json"}, 0, "\"idn\": \"\\u00c3\\u00a9\\u0001,KLW2"},
        {{"sim", "query", "3", "*IDN?"}, 0, "Acme Instruments,AI-2000,12345,1.0\n"},
        {{"sim", "idn", "31"}, 2, ""},
        {{"sim", "idn"}, 2, ""},
        {{"sim", "frobnicate"}, 2, ""},
        {{"sim", "query", "3"}, 2, ""},
        {{"sim", "query", "3", "*IDN?", "--raw", "x"}, 2, ""},
        {{"carrier-pigeon", "idn", "20"}, 2, ""},
        {{"sim", "hardcopy", "--help"}, 0, "--format WMF|BMP"},
        {{"sim", "hardcopy", "7", "--format"}, 2, "--format needs WMF or BMP"},
        {{"sim", "idn", "20", "--json=0"}, 2, "--json takes no value"},
        {{"sim:/nonexistent.yaml", "idn", "20"},
         2,
         "/nonexistent.yaml: cannot open the bench file"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.begin(), "--interface");
        const CliRun r = runCliInProcess(args);
        SCOPED_TRACE(c.args[1] + " " + c.args.back());
        EXPECT_EQ(r.code, c.code) << r.err;
        if (!c.text.empty() && c.text.back() == '\n') {
            EXPECT_EQ(r.out, c.text);
            EXPECT_EQ(r.err, "");
        } else {
            EXPECT_NE((r.out + r.err).find(c.text), std::string::npos) << r.out << r.err;
        }
    }
}

// An identification answer of `length` bytes before its line feed, with bytes a text
// reading would mangle: NUL, control characters, line feeds, blanks at the end. (Bench
// files hold text: bytes above 0x7F would arrive UTF-8 encoded.)
std::string longAnswer(size_t length) {
    std::string answer = "Acme,";
    for (size_t i = 0; answer.size() < length; ++i)
        answer += static_cast<char>("x\0\x01\n"[i % 4]);
    answer.replace(answer.size() - 2, 2, "  ");
    return answer;
}

// YAML text of those bytes, every one escaped.
std::string yamlQuoted(const std::string& bytes) {
    std::string text = "\"";
    for (const unsigned char c : bytes) {
        char escaped[5];
        std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
        text += escaped;
    }
    return text + "\"";
}

TEST(CliQuery, LongAnswersAreCutWithANoticeOrReadWholeWithRaw) {
    // 999 bytes and the line feed fill the 1000-byte reply with the end mark: nothing cut.
    for (const size_t length : {999u, 1000u, 1500u, 70'000u}) {
        SCOPED_TRACE(length);
        const std::string answer = longAnswer(length);
        const std::string bench = test::simBench(
            "instruments:\n  - {address: 3, kind: other-maker, idn: " + yamlQuoted(answer) + "}\n");
        const CliRun cut = runCliInProcess({"--interface", bench, "query", "3", "*IDN?"});
        EXPECT_EQ(cut.code, kExitDone);
        const bool whole = length + 1 <= 1000;
        EXPECT_EQ(cut.err, whole ? ""
                                 : "benchcap-cli query: the answer was cut after 1000 bytes; use "
                                   "--raw to read all of it\n");
        if (!whole) {
            EXPECT_EQ(cut.out.rfind(answer.substr(0, 990), 0), 0u);
        }

        // Raw bytes on stdout of the program, as the instrument sent them.
        const CliRun raw =
            test::runCliProcess({"--interface", bench, "query", "3", "*IDN?", "--raw"});
        EXPECT_EQ(raw.code, kExitDone) << raw.err;
        EXPECT_EQ(raw.err, "");
        EXPECT_TRUE(raw.out == answer + "\n") << raw.out.size();
    }
}

TEST(CliBoxes, OneLineOnStderrAndTheSafeAnswer) {
    std::ostringstream err;
    CliUserInterface ui(err);
    using bus::MessageButtons;
    using bus::MessageResult;
    const struct {
        const char* title;
        const char* text;
        MessageButtons buttons;
        MessageResult answer;
        const char* line;
    } cases[] = {
        {"ERROR:", "Bad thing\n", MessageButtons::Ok, MessageResult::Ok,
         "benchcap: ERROR: Bad thing"},
        {"Plotter", "Emulate?", MessageButtons::YesNo, MessageResult::No,
         "benchcap: Plotter: Emulate?"},
        {"", "Go on?", MessageButtons::YesNoCancel, MessageResult::No, "benchcap: Go on?"},
        {"Printer", "Print?", MessageButtons::OkCancel, MessageResult::Cancel,
         "benchcap: Printer: Print?"},
    };
    for (const auto& c : cases) {
        err.str("");
        EXPECT_EQ(ui.messageBox(bus::MessageIcon::Question, c.title, c.text, c.buttons), c.answer);
        EXPECT_EQ(err.str(), std::string(c.line) + "\n");
    }
    ui.queueInput("2");
    err.str("");
    EXPECT_EQ(ui.inputBox("BOARD", "Which?", "0"), "2");
    EXPECT_EQ(ui.inputBox("BOARD", "Which?", "0"), "");  // unattended: the empty entry
    EXPECT_EQ(err.str(), "benchcap: BOARD: Which? -> '2'\nbenchcap: BOARD: Which? -> ''\n");
    ui.setQuiet(true);
    err.str("");
    ui.messageBox(bus::MessageIcon::None, "T", "quiet", MessageButtons::Ok);
    EXPECT_EQ(err.str(), "");
    EXPECT_EQ(ui.shown().back(), "quiet");
}

TEST(CliSystemInfo, VersionOsQtAndTheDriverLibrary) {
    const auto dir = test::makeTempDir("cli-sysinfo");
    const struct {
        const char* content;
        const char* os;
    } releases[] = {
        {"NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n",
         "Debian GNU/Linux 12 (bookworm)"},
        {"NAME='Lab OS'\nVERSION=\"1 \\\"beta\\\"\"\n", "Lab OS 1 \"beta\""},
        {"ID=lab\n", "unknown ("},
    };
    for (const auto& release : releases) {
        std::ofstream(dir / "os-release") << release.content;
        EXPECT_EQ(operatingSystemName((dir / "os-release").string()).rfind(release.os, 0), 0u)
            << release.content;
    }
    EXPECT_EQ(operatingSystemName((dir / "none").string()),
              "unknown (no " + (dir / "none").string() + ")");
    EXPECT_EQ(systemReport((dir / "os-release").string(), "driver library: X"),
              "Benchcap " BENCHCAP_TEST_VERSION "\nOS: unknown (" + (dir / "os-release").string() +
                  " names none)\nQt: " + qVersion() + "\ndriver library: X\n");

    const CliRun missing = runCliInProcess(
        {"--system-info"}, {{"BENCHCAP_GPIB_LIBRARY", "/nonexistent/libgpib.so.0"}});
    EXPECT_EQ(missing.code, kExitDone);
    EXPECT_EQ(missing.out.rfind("Benchcap ", 0), 0u);
    for (const std::string part : {"\nOS: ", "\nQt: ",
                                   "\ndriver library: none (GPIB driver library not found: "
                                   "/nonexistent/libgpib.so.0)\n"})
        EXPECT_NE(missing.out.find(part), std::string::npos) << missing.out;
#ifdef SIMGPIB_PATH
    // The file the loader took, also when it was named by a link.
    const auto link = dir / "libgpib.so.0";
    std::filesystem::create_symlink(SIMGPIB_PATH, link);
    const CliRun found =
        runCliInProcess({"--system-info"}, {{"BENCHCAP_GPIB_LIBRARY", link.string()}});
    EXPECT_NE(found.out.find(
                  "\ndriver library: " + std::filesystem::canonical(SIMGPIB_PATH).string() + "\n"),
              std::string::npos)
        << found.out;
#endif
}

}  // namespace
}  // namespace benchcap::cli
