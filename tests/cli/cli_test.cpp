#include <gtest/gtest.h>
#include <QtGlobal>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/cli.h"
#include "cli_runner.h"
#include "support/bench_texts.h"
#include "support/table_file.h"
#include "support/test_paths.h"

#ifndef SIMGPIB_PATH
#define SIMGPIB_PATH "libbenchcap_simgpib.so is not built"
#endif

namespace benchcap::cli {
namespace {

using CliRun = test::CliResult;
using test::runCliInProcess;

// Every run of tests/data/cli/runs.tsv: its exit code and its words (the format is
// described at the top of that file).
TEST(CliRuns, EachRecordedRunExitsAndSaysAsRecorded) {
    for (const auto& row : test::readTable("cli/runs.tsv")) {
        SCOPED_TRACE(row[1]);
        const std::filesystem::path tmp = test::makeTempDir("cli-run");
        std::vector<std::string> args;
        std::istringstream words(row[1]);
        for (std::string word; words >> word;) {
            if (word == "@standard")
                word = test::simBench(test::kStandardBench);
            else if (word[0] == '@')
                word = "sim:" + (test::testDataDir() / "cli" / word.substr(1)).string();
            if (const auto at = word.find("{tmp}"); at != std::string::npos)
                word.replace(at, 5, tmp.string());
            if (const auto at = word.find("{data}"); at != std::string::npos)
                word.replace(at, 6, (test::testDataDir() / "cli").string());
            args.push_back(word);
        }
        // A run with variables of its own goes in this process and as the program alike.
        test::CliEnvironment env;
        std::istringstream assignments(row.size() > 3 ? row[3] : "");
        for (std::string a; assignments >> a;) {
            const std::string value = a.substr(a.find('=') + 1);
            env.emplace_back(a.substr(0, a.find('=')),
                             value == "{simgpib}" ? std::optional<std::string>(SIMGPIB_PATH)
                             : value.empty()      ? std::nullopt
                                                  : std::optional(value));
        }
        std::vector<CliRun> runs = {runCliInProcess(args, env)};
        if (!env.empty())
            runs.push_back(test::runCliProcess(args, env));
        for (const CliRun& r : runs) {
            EXPECT_EQ(r.code, std::stoi(row[0])) << r.err;
            const std::string check = row.size() > 2 ? row[2] : "";
            const std::string kind = check.substr(0, check.find_first_of("=~") + 1);
            const std::string text = check.substr(kind.size());
            if (kind == "out=" || kind == "err=") {
                EXPECT_EQ(kind == "out=" ? r.out : r.err, text + "\n");
                EXPECT_EQ(kind == "out=" ? r.err : r.out, "");
            } else if (!kind.empty()) {
                const std::string& said = kind == "out~"   ? r.out
                                          : kind == "err~" ? r.err
                                                           : r.out + r.err;
                EXPECT_NE(said.find(text), std::string::npos) << r.out << r.err;
                EXPECT_TRUE(kind == "~" || (kind == "err~" ? r.out : r.err).empty());
            }
            EXPECT_TRUE(r.code == 0 || std::filesystem::is_empty(tmp));
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
    // Each box is one line; unattended, the answer is the safe one.
    for (const auto& [title, text, buttons, answer, line] :
         {std::tuple{"ERROR:", "Bad thing\n", MessageButtons::Ok, MessageResult::Ok,
                     "benchcap: ERROR: Bad thing"},
          {"Plotter", "Emulate?", MessageButtons::YesNo, MessageResult::No,
           "benchcap: Plotter: Emulate?"},
          {"", "Go on?", MessageButtons::YesNoCancel, MessageResult::No, "benchcap: Go on?"},
          {"Printer", "Print?", MessageButtons::OkCancel, MessageResult::Cancel,
           "benchcap: Printer: Print?"}}) {
        err.str("");
        EXPECT_EQ(ui.messageBox(bus::MessageIcon::Question, title, text, buttons), answer);
        EXPECT_EQ(err.str(), std::string(line) + "\n");
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
