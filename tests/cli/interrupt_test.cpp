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

bool hasTemporary(const fs::path& dir) {
    for (const auto& e : fs::directory_iterator(dir)) {
        const std::string name = e.path().filename().string();
        if (name.front() == '.' && name.ends_with(".tmp"))
            return true;
    }
    return false;
}

// One benchcap-cli run in its own folder, with an earlier output file in place.
struct CliProcess {
    // `interface` empty: the bench above; "library": the simulated driver library on it in
    // real time; else as given.
    CliProcess(const std::string& name, std::vector<std::string> command, int sig,
               const std::string& interface = {})
        : dir(makeTempDir("interrupt-" + name)),
          output(dir / (command.front() == "render"   ? "out.png"
                        : command.front() == "record" ? "recording"
                                                      : "out.file")),
          signal(sig) {
        std::ofstream(dir / "bench.yaml") << kBench;
        std::ofstream plot(dir / "plot.hpgl");
        for (int i = 0; i < 20000; ++i)
            plot << "PU" << i % 1000 << ",0;PD" << i % 1000 << ",800;\r\n";
        if (command.front() != "record")
            std::ofstream(output) << "earlier";
        std::vector<std::string> args = {
            BENCHCAP_CLI_PATH, "--interface",
            interface.empty() ? "sim:" + (dir / "bench.yaml").string() : interface};
        args.insert(args.end(), command.begin(), command.end());
        if (command.front() != "idn")
            args.insert(args.end(), {"-o", output.string()});
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e)
            env.emplace_back(*e);
        if (interface == "library") {
            env.insert(env.end(), {"BENCHCAP_GPIB_LIBRARY=" SIMGPIB_PATH,
                                   "BENCHCAP_SIM_BENCH=" + (dir / "bench.yaml").string(),
                                   "BENCHCAP_SIM_REALTIME=1"});
        }
        std::vector<char*> envp;
        for (auto& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
        started = std::chrono::steady_clock::now();
        EXPECT_EQ(posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), envp.data()), 0);
        posix_spawn_file_actions_destroy(&files);
    }

    // Sends the signal once the transfer is under way (its temporary file exists, or a
    // moment after the start for a trace, which is written only when complete).
    void interruptWhenBusy(bool waitForTemporary) {
        const auto limit = started + 2s;
        while (std::chrono::steady_clock::now() < limit &&
               (waitForTemporary ? !hasTemporary(dir)
                                 : std::chrono::steady_clock::now() < started + 400ms)) {
            std::this_thread::sleep_for(5ms);
        }
        EXPECT_TRUE(!waitForTemporary || hasTemporary(dir)) << "no transfer started";
        std::this_thread::sleep_for(100ms);
        kill(pid, signal);
        signalled = std::chrono::steady_clock::now();
    }

    // The exit code, or -1 when the program did not end within `within` of the signal.
    int exitCode(std::chrono::milliseconds within = 3s) {
        const auto limit = signalled + within;
        int status = 0;
        while (waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > limit) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                return -1;
            }
            std::this_thread::sleep_for(5ms);
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    }

    fs::path dir;
    fs::path output;
    int signal;
    pid_t pid = -1;
    std::chrono::steady_clock::time_point started;
    std::chrono::steady_clock::time_point signalled;
};

TEST(CliInterrupt, SignalDuringATransferEndsItAndKeepsTheEarlierFile) {
    std::atomic<bool> stopping{false};
    FakeAdapter adapter([&](int fd, int) { neverEndingAnswer(fd, stopping, "x", 1000); });
    // They run side by side, so the whole test takes about as long as one.
    CliProcess hardcopy("hardcopy", {"hardcopy", "16"}, SIGINT);
    CliProcess plotter("plotter", {"hardcopy", "9", "--plotter"}, SIGTERM);
    CliProcess trace("trace", {"trace", "7", "1"}, SIGINT);
    // Reads that wait for bytes that come one a second and never end, in every backend.
    CliProcess sim("sim", {"trace", "20", "1"}, SIGTERM);
    CliProcess library("library", {"trace", "20", "1"}, SIGHUP, "library");
    CliProcess prologix("prologix", {"idn", "5"}, SIGINT, "prologix:" + adapter.where());
    // Drawing a picture of many pages (each just within the drawing budget).
    const fs::path slow = makeTempDir("interrupt-input") / "slow.hpgl";
    std::ofstream input(slow);
    for (int page = 0; page < 60; ++page)
        input << spikes(45) << "PG;";
    input.close();
    CliProcess render("render", {"render", slow.string()}, SIGTERM);
    hardcopy.interruptWhenBusy(true);
    plotter.interruptWhenBusy(true);
    for (CliProcess* run : {&trace, &sim, &library, &prologix, &render})
        run->interruptWhenBusy(false);
    for (CliProcess* run : {&hardcopy, &plotter, &trace, &sim, &library, &prologix, &render}) {
        // A waiting read ends within half a second; a transfer also cleans up.
        const bool transfer = run != &sim && run != &library && run != &prologix;
        EXPECT_EQ(run->exitCode(transfer ? 3s : 500ms), 128 + run->signal) << run->dir;
        EXPECT_EQ(
            filesIn(run->dir),
            (std::vector<std::string>{"bench.yaml", run->output.filename().string(), "plot.hpgl"}))
            << run->dir;
        EXPECT_EQ(readFile(run->output), "earlier") << run->dir;
    }
    stopping = true;
}

// A recording ends on SIGTERM as on Stop: 143, and record.csv ends with a whole row.
TEST(CliInterrupt, SignalEndsARecordingAfterItsLastWholeRow) {
    CliProcess record("record", {"record", "16", "--trace", "1:0.1", "--duration", "1h"}, SIGTERM);
    record.interruptWhenBusy(false);
    EXPECT_EQ(record.exitCode(), 128 + SIGTERM);
    const std::string rows = readFile(record.output / "record.csv");
    EXPECT_TRUE(rows.ends_with("trace1.csv\r\n")) << rows;
    EXPECT_GE(std::count(rows.begin(), rows.end(), '\n'), 2) << rows;
}

}  // namespace
}  // namespace benchcap::test
