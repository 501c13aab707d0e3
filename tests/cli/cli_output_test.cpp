// What benchcap-cli does when its standard output cannot take the text, or memory runs
// out: a message on stderr and a non-zero exit, never silence or an abort. Each case runs
// runCli in a child process whose real standard output (std::cout) is prepared first.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>

#include "cli/cli.h"
#include "support/test_paths.h"

#if defined(__SANITIZE_ADDRESS__)
#define BENCHCAP_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define BENCHCAP_ASAN 1
#endif
#endif

namespace benchcap::cli {
namespace {

struct ChildRun {
    bool exited = false;  // false: killed by a signal (an abort)
    int code = -1;
    std::string err;
};

// runCli(args, std::cout, ...) in a child after `prepare`; stderr text comes back by pipe.
ChildRun runInChild(const std::vector<std::string>& args, const std::function<void()>& prepare) {
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    std::fflush(stdout);  // the child must not write the test's own pending output
    std::cout.flush();
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        prepare();
        std::ostringstream err;
        const int code = runCli(args, std::cout, err);
        const std::string text = std::to_string(code) + "\n" + err.str();
        [[maybe_unused]] const ssize_t n = write(fds[1], text.data(), text.size());
        _exit(0);
    }
    close(fds[1]);
    std::string report;
    char buffer[4096];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;)
        report.append(buffer, static_cast<std::size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    ChildRun run;
    run.exited = WIFEXITED(status) && !report.empty();
    if (run.exited) {
        const auto line = report.find('\n');
        run.code = std::stoi(report.substr(0, line));
        run.err = report.substr(line + 1);
    }
    return run;
}

void outputTo(const char* device) {
    const int fd = open(device, O_WRONLY);
    dup2(fd, STDOUT_FILENO);
    close(fd);
}

// Commands that print little (flushed at the end) and much (failing on the way).
const std::vector<std::vector<std::string>> kPrinting = {
    {"--help"},
    {"--interface", "sim", "idn", "20"},
    {"--interface", "sim", "trace", "20", "1"},
    {"--interface", "sim", "trace", "16", "2"},
};

TEST(CliOutput, AFullDiskOrAClosedStandardOutputIsAnError) {
    const struct {
        void (*prepare)();
        const char* message;  // "": the command succeeds
    } outputs[] = {
        {[] { outputTo("/dev/full"); }, "cannot write to standard output: No space left on device"},
        {[] { close(STDOUT_FILENO); }, "cannot write to standard output: Bad file descriptor"},
        {[] { outputTo("/dev/null"); }, ""},
    };
    for (const auto& output : outputs) {
        for (const auto& args : kPrinting) {
            SCOPED_TRACE(args.back() + " " + output.message);
            const ChildRun run = runInChild(args, output.prepare);
            ASSERT_TRUE(run.exited);
            EXPECT_EQ(run.code != 0, *output.message != 0) << run.err;
            EXPECT_NE(run.err.find(output.message), std::string::npos) << run.err;
        }
    }
}

[[maybe_unused]] long addressSpaceKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmSize:", 0) == 0)
            return std::stol(line.substr(7));
    }
    return 0;
}

TEST(CliOutput, RunningOutOfMemoryIsAMessageNotAnAbort) {
#ifdef BENCHCAP_ASAN
    GTEST_SKIP() << "AddressSanitizer reserves more address space than any limit allows";
#else
    // A trace far larger than the memory left to the process.
    const auto bench = test::makeTempDir("clioom") / "bench.yaml";
    std::ofstream(bench) << "clock: virtual\ninstruments:\n"
                            "  - {address: 4, kind: spectrum-analyzer, "
                            "idn: \"Veltronik,KLR20,1,3.1\", points: 50000000}\n";
    const auto file = bench.parent_path() / "T.TXT";
    for (const bool toFile : {false, true}) {
        std::vector<std::string> args = {"--interface", "sim:" + bench.string(), "trace", "4", "1"};
        if (toFile) {
            args.insert(args.end(), {"-o", file.string()});
        }
        const ChildRun run = runInChild(args, [] {
            outputTo("/dev/null");
            const rlim_t limit = static_cast<rlim_t>(addressSpaceKiB() + 96 * 1024) * 1024;
            const rlimit memory{limit, limit};
            setrlimit(RLIMIT_AS, &memory);
        });
        ASSERT_TRUE(run.exited) << "the command aborted";
        EXPECT_EQ(run.code, kExitNoAnswer);
        EXPECT_NE(run.err.find("out of memory"), std::string::npos) << run.err;
        EXPECT_FALSE(std::filesystem::exists(file));
    }
#endif
}

}  // namespace
}  // namespace benchcap::cli
