// SIGINT, SIGTERM and SIGHUP in the middle of a long transfer: benchcap-cli runs as a program
// of its own on a simulated bench whose instruments send at a real-time rate (or drip, or
// behind a dripping "++" adapter), so the transfer takes seconds and the signal arrives while
// the temporary file is being filled or a read waits.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "../adapter/adapter_fixtures.h"
#include "cli_runner.h"
#include "support/bench_texts.h"
#include "support/test_paths.h"

extern char** environ;

namespace benchcap::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* kBench = ::benchcap::test::kSlowRealClockBench;

// Whether the temporary file beside the output has bytes yet.
bool temporaryFilled(const fs::path& dir) {
    std::error_code gone;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().filename().string().front() == '.' && e.path().extension() == ".tmp" &&
            e.file_size(gone) > 0 && !gone)
            return true;
    return false;
}

// Null-terminated pointers to `texts`, as posix_spawn takes them.
std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> p;
    for (auto& t : texts)
        p.push_back(t.data());
    p.push_back(nullptr);
    return p;
}

// One benchcap-cli run in its own folder, with an earlier output file in place.
struct CliProcess {
    // `interface` empty: the bench above; "library": the simulated driver library on it in
    // real time; else as given. `busyLine`: the line of the bus log (of record.csv for a
    // recording) after which the long read runs; without it, the transfer is under way once
    // its temporary file has bytes.
    CliProcess(const std::string& name, std::vector<std::string> command, int sig,
               const std::string& interface = {}, std::string busyWhen = {})
        : dir(makeTempDir("interrupt-" + name)),
          output(dir / (command.front() == "render"   ? "out.png"
                        : command.front() == "record" ? "recording"
                                                      : "out.file")),
          signal(sig),
          busyLine(std::move(busyWhen)),
          log(command.front() == "record" ? output / "record.csv"
                                          : makeTempDir("interrupt-log") / "bus.log") {
        std::ofstream(dir / "bench.yaml") << kBench;
        std::ofstream plot(dir / "plot.hpgl");
        for (int i = 0; i < 20000; ++i)
            plot << "PU" << i % 1000 << ",0;PD" << i % 1000 << ",800;\r\n";
        if (command.front() != "record")
            std::ofstream(output) << "earlier";
        std::vector<std::string> args = {
            BENCHCAP_CLI_PATH, "--interface",
            interface.empty() ? "sim:" + (dir / "bench.yaml").string() : interface};
        if (!busyLine.empty() && command.front() != "record")
            args.insert(args.end(), {"--bus-log", log.string()});
        args.insert(args.end(), command.begin(), command.end());
        if (command.front() != "idn")
            args.insert(args.end(), {"-o", output.string()});
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e)
            env.emplace_back(*e);
        if (interface == "library")
            env.insert(env.end(), {"BENCHCAP_GPIB_LIBRARY=" SIMGPIB_PATH,
                                   "BENCHCAP_SIM_BENCH=" + (dir / "bench.yaml").string(),
                                   "BENCHCAP_SIM_REALTIME=1"});
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
        EXPECT_EQ(posix_spawn(&pid, args[0].c_str(), &files, nullptr, pointers(args).data(),
                              pointers(env).data()),
                  0);
        posix_spawn_file_actions_destroy(&files);
    }

    bool busy() const {
        return busyLine.empty() ? temporaryFilled(dir)
                                : readFile(log).find(busyLine) != std::string::npos;
    }
    bool ended() { return pid <= 0 || status >= 0 || waitpid(pid, &status, WNOHANG) == pid; }
    // The exit code, or -1 when the program did not end before a deadline only a hang
    // reaches (how soon a stop is seen is told by the bus log, below).
    int exitCode() {
        for (const auto limit = std::chrono::steady_clock::now() + 20s; !ended();
             std::this_thread::sleep_for(5ms))
            if (std::chrono::steady_clock::now() > limit) {
                kill(pid, SIGKILL);
                return -1;
            }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    }
    // The read that followed the busy line in the bus log, which the signal should have
    // ended; empty when the signal came before it began.
    std::string readAfterBusy() const {
        const std::string text = readFile(log);
        const size_t read = text.find(" ibrd ", text.find(busyLine));
        return read == std::string::npos ? "" : text.substr(read, text.find('\n', read) - read);
    }

    fs::path dir;
    fs::path output;
    int signal;
    std::string busyLine;
    fs::path log;
    pid_t pid = -1;
    int status = -1;
};

// Signals each run as soon as its transfer is under way (they run side by side, so the
// whole test takes about as long as the slowest); a run that never gets there is signalled
// at a deadline only a hang reaches, and fails.
void interruptWhenBusy(std::vector<CliProcess*> runs) {
    const auto limit = std::chrono::steady_clock::now() + 60s;
    while (!runs.empty()) {
        std::erase_if(runs, [&](CliProcess* run) {
            if (run->ended())
                return true;
            if (!run->busy() && std::chrono::steady_clock::now() < limit)
                return false;
            EXPECT_TRUE(run->busy()) << run->dir << ": no transfer under way";
            kill(run->pid, run->signal);
            return true;
        });
        std::this_thread::sleep_for(2ms);
    }
}

TEST(CliInterrupt, SignalDuringATransferEndsItAndKeepsTheEarlierFile) {
    std::atomic<bool> stopping{false};
    FakeAdapter adapter([&](int fd, int) { neverEndingAnswer(fd, stopping, "x", 1000); });
    const std::string idn = "data=\"*IDN?\"", trace = "data=\"TRAC? TRACE1\"";
    CliProcess hardcopy("hardcopy", {"hardcopy", "16"}, SIGINT);
    CliProcess plotter("plotter", {"hardcopy", "9", "--plotter"}, SIGTERM);
    CliProcess trace7("trace", {"trace", "7", "1"}, SIGINT, "", trace);
    // Reads that wait for bytes that come one a second and never end, in every backend.
    CliProcess sim("sim", {"trace", "20", "1"}, SIGTERM, "", trace);
    CliProcess library("library", {"trace", "20", "1"}, SIGHUP, "library", trace);
    CliProcess prologix("prologix", {"idn", "5"}, SIGINT, "prologix:" + adapter.where(), idn);
    // Drawing a picture of many pages (each just within the drawing budget).
    const fs::path slow = makeTempDir("interrupt-input") / "slow.hpgl";
    std::ofstream input(slow);
    for (int page = 0; page < 60; ++page)
        input << spikes(45) << "PG;";
    input.close();
    CliProcess render("render", {"render", slow.string()}, SIGTERM);
    const std::vector<CliProcess*> runs = {&hardcopy, &plotter,  &trace7, &sim,
                                           &library,  &prologix, &render};
    interruptWhenBusy(runs);
    for (CliProcess* run : runs) {
        EXPECT_EQ(run->exitCode(), 128 + run->signal) << run->dir;
        EXPECT_EQ(
            filesIn(run->dir),
            (std::vector<std::string>{"bench.yaml", run->output.filename().string(), "plot.hpgl"}))
            << run->dir;
        EXPECT_EQ(readFile(run->output), "earlier") << run->dir;
    }
    // The waiting read ended at the stop (ERR without TIMO), not at its time-out; on a
    // loaded machine the stop may come between the query and the read, which then never begins.
    for (CliProcess* run : {&sim, &library, &prologix}) {
        const std::string read = run->readAfterBusy();
        EXPECT_TRUE(read.empty() || read.find("sta=ERR err=EABO ") != std::string::npos) << read;
    }
    stopping = true;
}

// A recording ends on SIGTERM as on Stop: 143, and record.csv ends with a whole row.
TEST(CliInterrupt, SignalEndsARecordingAfterItsLastWholeRow) {
    CliProcess record("record", {"record", "16", "--trace", "1:0.1", "--duration", "1h"}, SIGTERM,
                      "", "trace1.csv\r\n");
    interruptWhenBusy({&record});
    EXPECT_EQ(record.exitCode(), 128 + SIGTERM);
    const std::string rows = readFile(record.output / "record.csv");
    EXPECT_TRUE(rows.ends_with("trace1.csv\r\n")) << rows;
    EXPECT_GE(std::count(rows.begin(), rows.end(), '\n'), 2) << rows;
}

}  // namespace
}  // namespace benchcap::test
