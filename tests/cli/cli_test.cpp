#include <gtest/gtest.h>
#include <yaml-cpp/yaml.h>
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
#include "trace/touchstone_reader.h"

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

    // Without the driver library: runs.tsv.
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

// benchcap-cli on a bench file of tests/data/cli (refusals are in runs.tsv).
CliRun runOn(const char* bench, std::vector<std::string> args) {
    args.insert(args.begin(),
                {"--interface", "sim:" + (test::testDataDir() / "cli" / bench).string()});
    return runCliInProcess(std::move(args));
}

TEST(CliScan, JsonOnTheBuiltInBenchAndTheChosenBoard) {
    const CliRun r = runCliInProcess({"--interface", "sim", "scan", "--json"});
    ASSERT_EQ(r.code, kExitDone) << r.err;
    const YAML::Node o = YAML::Load(r.out);
    EXPECT_EQ(o["answer_line"].as<std::string>(), "5 VTK-DEVICES FOUND");
    EXPECT_EQ(o["board_failure"].as<std::string>(), "");
    ASSERT_EQ(o["devices"].size(), 30u);
    EXPECT_EQ(o["devices"][19]["options"].as<std::string>(), "B4,K7\n");

    const CliRun chosen = runOn("two-boards.yaml", {"scan", "--board", "2", "--timeouts", "11:11"});
    ASSERT_EQ(chosen.code, kExitDone) << chosen.err;
    EXPECT_NE(chosen.err.find("benchcap: SELECT BOARD INDEX: Please enter board number "
                              "(available boards: GPIB0,GPIB2) -> '2'"),
              std::string::npos)
        << chosen.err;
    EXPECT_NE(chosen.out.find("06\t12\tgreen\tAddr 6: KLVZ, firmware 1.60\tKLVZ (1.60)\t"
                              "Veltronik,KLVZ,1,1.60\\n\t\\n\n"),
              std::string::npos)
        << chosen.out;
}

TEST(CliBoardConfig, SaveThenLoadOnTheChosenBoard) {
    const std::string ini = (test::makeTempDir("cli-board-config") / "boards.ini").string();
    CliRun r = runOn("two-boards.yaml", {"board-config", "save", ini, "LAB1", "--board", "2"});
    ASSERT_EQ(r.code, kExitDone) << r.err;
    EXPECT_NE(test::readFile(ini).find("[LAB1_PCINTEROP]"), std::string::npos);
    EXPECT_NE(r.out.find("LAB1_BOARD\tTimeout_Value\t13\n"), std::string::npos) << r.out;

    std::ofstream(ini) << "[LAB1_BOARD]\nTimeout_Value=11\n";
    r = runOn("two-boards.yaml", {"board-config", "load", ini, "LAB1", "--board", "2"});
    ASSERT_EQ(r.code, kExitDone) << r.err;
    EXPECT_NE(r.out.find("LAB1_BOARD\tTimeout_Value\t11\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("LAB1_EOS\tEOS_Character\t0\n"), std::string::npos);
    EXPECT_EQ(r.out.find("_PCINTEROP"), std::string::npos);
}

// The text format is the trace library's; here: stdout or the file, and the locale's comma.
TEST(CliTrace, PrintsTheTraceOrWritesTheTxtFileWithARegionalComma) {
    const CliRun r =
        runCliInProcess({"--interface", "sim", "trace", "20", "1", "--locale", "en_US"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, 2), "0\t");
    const std::string bench = test::simBench(
        "instruments:\n  - {address: 4, kind: spectrum-analyzer, idn: \"Veltronik,KLR20,1,3.1\", "
        "points: 3, center_hz: 1000, span_hz: 500}\n");
    const auto file = test::makeTempDir("clitrace") / "T.TXT";
    const CliRun f = runCliInProcess(
        {"--interface", bench, "trace", "4", "1", "-o", file.string(), "--locale", "de_DE"});
    EXPECT_EQ(f.code, 0) << f.err;
    EXPECT_EQ(f.out, "");
    const std::string content = test::readFile(file);
    EXPECT_EQ(content.substr(0, 4), "750\t");
    EXPECT_NE(content.find(','), std::string::npos);
    for (const char* comma : {"de_DE", "de_DE.UTF-8", "fr_FR"})
        EXPECT_EQ(decimalSeparatorFor(comma), ',') << comma;
    for (const char* point : {"en_US.UTF-8", "de_CH", "C", ""})
        EXPECT_EQ(decimalSeparatorFor(point), '.') << point;
}

// Touchstone files of complex channels, to stdout or -o, as a strict reader takes them.
TEST(CliTrace, WritesTouchstoneFilesOrSaysWhyNot) {
    const std::string four = test::simBench(
        "instruments:\n  - {address: 16, kind: network-analyzer, idn: \"Veltronik,NQD8,1,1.45\", "
        "points: 11, channels: {1: complex, 2: complex, 3: complex, 4: complex}}\n");
    const std::string s2p = (test::makeTempDir("cli-touchstone") / "dut.S2P").string();
    // Ports 0: refused with exit code 1 (after the read) or 2 (before), saying why.
    for (const auto& [bench, args, ports, code, said] :
         {std::tuple{four, std::vector<std::string>{"3"}, 1, 0, ""},
          {four, {"1", "--ports", "2", "--touchstone-version", "2", "-o", s2p}, 2, 0, ""},
          {std::string("sim"), {"1"}, 0, 1, "channel 1 is in a real format (201 values for 201"},
          {four,
           {"1", "--ports", "2", "-o", "a.s1p"},
           0,
           2,
           "a.s1p: a Touchstone file of two ports is named *.s2p"}}) {
        std::vector<std::string> all = {"--interface", bench, "trace", "16"};
        all.insert(all.end(), args.begin(), args.end());
        all.insert(all.end(), {"--format", "touchstone"});
        const CliRun r = runCliInProcess(all);
        EXPECT_EQ(r.code, code) << r.err;
        EXPECT_NE(r.err.find(said), std::string::npos) << r.err;
        if (ports == 0)
            continue;
        const std::string text = ports == 2 ? test::readFile(s2p) : r.out;
        const auto file = test::ReadTouchstone(text, ports);
        ASSERT_TRUE(file) << file.error();
        EXPECT_EQ(file->version2, ports == 2);
        EXPECT_EQ(file->frequencies.size(), 11u);
        EXPECT_NE(text.find("\n! Instrument: Veltronik,NQD8,1,1.45\n"), std::string::npos);
    }
}

TEST(CliHardcopy, WritesThePictureOfTheFormatOrTheExtension) {
    const std::string bench = test::simBench(test::kStandardBench);
    const auto dir = test::makeTempDir("cli-hardcopy");
    // Without --format the output's extension chooses.
    for (const auto& [args, start] :
         {std::pair{std::vector<std::string>{"16", "--format", "WMF", "--bw", "-o", "shot.wmf"},
                    "\xD7\xCD\xC6\x9A"},
          {{"16", "-o", "named.WMF"}, "\xD7\xCD\xC6\x9A"},
          {{"9", "--plotter", "-o", "plot.hgl"}, "IN;"}}) {
        std::vector<std::string> all = {"--interface", bench, "hardcopy"};
        all.insert(all.end(), args.begin(), args.end());
        all.back() = (dir / all.back()).string();
        const CliRun r = runCliInProcess(all);
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(test::readFile(all.back()).rfind(start, 0), 0u) << all.back();
    }
}

}  // namespace
}  // namespace benchcap::cli
