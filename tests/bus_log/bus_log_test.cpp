#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <future>
#include <sstream>
#include <streambuf>
#include <thread>

#include "bus/log/bus_log_format.h"
#include "bus/log/logging_driver.h"
#include "bus/log/replay_driver.h"
#include "cli/cli_runner.h"
#include "support/bench_rig.h"
#include "support/golden.h"
#include "support/mock_driver.h"
#include "support/table_file.h"
#include "support/test_paths.h"

namespace benchcap::bus::log {
namespace {

using ::testing::HasSubstr;
namespace fs = std::filesystem;

// An endless line of 'a', `size` bytes long, that takes no memory.
class LongLine : public std::streambuf {
  public:
    explicit LongLine(size_t size) : left_(size) {}

  protected:
    int_type underflow() override { return left_ ? 'a' : traits_type::eof(); }
    int_type uflow() override { return left_ ? (--left_, 'a') : traits_type::eof(); }

  private:
    size_t left_;
};

std::string readError(std::istream& in) {
    LogReader reader(in);
    for (;;) {
        auto next = reader.next();
        if (!next)
            return next.error();
        if (!next->has_value())
            return "";
    }
}

// Every damaged log of golden/bus-log-errors.txt fails naming its line.
TEST(BusLogReader, DamagedLogsFailNamingTheLine) {
    test::checkGolden("golden/bus-log-errors.txt", [](const std::string& text) {
        std::istringstream in(text + "\n");
        return readError(in) + "\n";
    });
    LongLine hundredMegabytes(100u << 20);
    std::istream in(&hundredMegabytes);
    EXPECT_THAT(readError(in), HasSubstr("line 1: the line is longer than 64 MiB"));
}

// A status word handed back sign-extended (as a 16-bit ibsta held in an int) is answered
// and logged as the 16 bits NI-488.2 returns, so a failed write looks alike on every backend.
TEST(LoggingDriver, StatusWordsStopRequestsAndLogsThatCannotBeWritten) {
    auto mock = std::make_unique<::testing::NiceMock<test::MockDriver>>();
    test::MockDriver& inner = *mock;
    LoggingDriver driver(std::move(mock), std::make_shared<VirtualClock>());
    driver.setInterruptCheck([] { return true; });
    EXPECT_TRUE(inner.interruptRequested());

    const int16_t failed = LongToInt16(ibsta_bits::ERR | ibsta_bits::CMPL);
    ON_CALL(inner, ibwrt).WillByDefault(::testing::Return(failed));
    ON_CALL(inner, status).WillByDefault(::testing::Return(DriverStatus{failed, 0, 0, 0}));
    const fs::path dir = test::makeTempDir("status-word");
    ASSERT_TRUE(driver.start((dir / "bus.log").string(), false, "mock"));
    EXPECT_EQ(driver.ibwrt(32, "x", 1), ibsta_bits::ERR | ibsta_bits::CMPL);
    driver.stop();
    EXPECT_THAT(test::readFile(dir / "bus.log"), HasSubstr("-> ret=33024 sta=ERR|CMPL err=EDVR"));
    // A pipe that nobody reads is refused at once rather than waited for (a wait is ended
    // after 5 s by reading the pipe, failing the test).
    const fs::path pipe = dir / "pipe";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    auto started = std::async(std::launch::async, [&] { return driver.start(pipe, false, ""); });
    const int reader = started.wait_for(std::chrono::seconds(5)) == std::future_status::ready
                           ? -1
                           : ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
    EXPECT_THAT(started.get().error(), HasSubstr("it is a pipe that no program reads"));
    if (reader >= 0)
        ::close(reader);

    ASSERT_TRUE(driver.start("/dev/full", false, "mock"));
    driver.ibloc(32);
    EXPECT_FALSE(driver.active());
    EXPECT_THAT(driver.summaryLine(), HasSubstr("bus log /dev/full is incomplete: No space"));
    EXPECT_THAT(driver.start("/no/such/folder/x.log", false, "mock").error(),
                HasSubstr("cannot write the bus log /no/such/folder/x.log"));
}

// A log switched on mid-session (the window's "Bus log...") names the devices of handles
// opened before it, and a board found as "GPIB1" is board 1.
TEST(LoggingDriver, NamesHandlesOpenedBeforeTheLogStarted) {
    LoggingDriver driver(test::makeBench("boards: [0, 1]\ninstruments: []\n"),
                         std::make_shared<VirtualClock>());
    const int device = driver.ibdev(1, 7, 0, timeout_codes::T1s, 1, 0);
    const int board = driver.ibfind("GPIB1");
    const fs::path log = test::makeTempDir("late-log") / "bus.log";
    ASSERT_TRUE(driver.start(log.string(), false, "sim"));
    driver.ibloc(device);
    driver.ibloc(board);
    driver.stop();
    const std::string text = test::readFile(log);
    EXPECT_THAT(text, HasSubstr("ibloc ud=" + std::to_string(device) + " dev=1/7 "));
    EXPECT_THAT(text, HasSubstr("ibloc ud=" + std::to_string(board) + " dev=1 "));
}

// A device clear is logged and replayed like any call; the answer it dropped never comes.
TEST(BusLogReplay, DeviceClearRoundTrip) {
    const std::string log = (test::makeTempDir("bus-log-clear") / "clear.log").string();
    const auto run = [](GpibDriver& d) {
        const int ud = d.ibdev(0, 7, 0, timeout_codes::T300ms, 1, 0);
        d.ibwrt(ud, "*IDN?", 5);
        char answer[100];
        const int cleared = d.ibclr(ud);
        return std::to_string(cleared) + " " + std::to_string(d.ibrd(ud, answer, 100));
    };
    LoggingDriver logged(
        test::makeBench(R"(instruments: [{address: 7, kind: spectrum-analyzer, idn: "A,B,1,1"}])"),
        std::make_shared<VirtualClock>());
    ASSERT_TRUE(logged.start(log, false, "sim"));
    const std::string live = run(logged);
    logged.stop();
    EXPECT_EQ(live, "288 49408");  // CMPL|CIC, then ERR|TIMO|CMPL
    ReplayDriver replay(log);
    EXPECT_EQ(run(replay), live);
    EXPECT_EQ(replay.verdict(), "");
}

// Unblocks whoever opens `pipe` for reading (an open that should never have been made), so
// that such a fault fails the test instead of hanging it.
class PipeWatch {
  public:
    explicit PipeWatch(fs::path pipe)
        : thread_([this, pipe] {
              while (!done_) {
                  std::this_thread::sleep_for(std::chrono::milliseconds(200));
                  if (const int fd = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK); fd >= 0)
                      ::close(fd);
              }
          }) {}
    ~PipeWatch() {
        done_ = true;
        thread_.join();
    }

  private:
    std::atomic<bool> done_ = false;
    std::thread thread_;
};

// golden/bus-log-files.txt: the readers of bus logs and LAN bus files on files that are no
// files or hold no calls, the summary's boards, and the bus log beside the run's own files.
TEST(BusLogFiles, OddFilesAndLogsBesideTheRunsFiles) {
    const fs::path tmp = test::makeTempDir("bus-log-files");
    ASSERT_EQ(::mkfifo((tmp / "pipe").c_str(), 0600), 0);
    fs::create_directory(tmp / "folder");
    fs::create_symlink(tmp / "file", tmp / "link");
    PipeWatch watch(tmp / "pipe");
    test::checkGolden("golden/bus-log-files.txt", [&](const std::string& input) {
        const size_t text = input.find(" <<<");
        if (text != std::string::npos)
            std::ofstream(tmp / "file", std::ios::binary)
                << input.substr(text + 4 + (input.size() > text + 4));
        std::vector<std::string> args;
        std::istringstream in(input.substr(0, text));
        for (std::string w; in >> w;) {
            for (const char* name : {"pipe", "folder", "file", "link"}) {
                const std::string tag = "{" + std::string(name) + "}";
                if (const size_t at = w.find(tag); at != std::string::npos)
                    w.replace(at, tag.size(), (tmp / name).string());
            }
            args.push_back(w);
        }
        const test::CliResult r = test::runCliInProcess(args);
        fs::remove(tmp / "file");
        std::string said = "exit " + std::to_string(r.code) + "\n" + r.err + r.out;
        for (size_t at; (at = said.find(tmp.string())) != std::string::npos;)
            said.replace(at, tmp.string().size(), "TMP");
        return said;
    });
}

std::vector<std::string> words(const std::string& text, const std::string& out) {
    std::vector<std::string> list;
    std::istringstream in(text);
    for (std::string w; in >> w;)
        list.push_back(w == "OUT" ? out : w);
    return list;
}

// Each recorded session, replayed through the program that recorded it, writes the
// recorded output byte for byte; a session logged with shortened blocks stops at the first
// of them and says to record with full data.
TEST(BusLogReplay, RecordedSessionsGiveTheRecordedFiles) {
    const fs::path logs = test::testDataDir() / "bus-logs";
    // Name, program (cli or window), output file, arguments.
    const auto sessions = test::readTable("bus-logs/sessions.tsv");
    ASSERT_GE(sessions.size(), 8u);
    for (const auto& row : sessions) {
        const struct {
            const std::string &name, &program, &output, &args;
        } s{row.at(0), row.at(1), row.at(2), row.at(3)};
        SCOPED_TRACE(s.name);
        const fs::path dir = test::makeTempDir("replay-" + s.name);
        const std::string replay = "replay:" + (logs / (s.name + ".log")).string();
        std::string out;
        int code = 0;
        if (s.program == "window") {
            const std::string command =
                "QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME='" + dir.string() +
                "' '" BENCHCAP_WINDOW_PROGRAM "' --interface '" + replay + "' --data-path '" +
                dir.string() + "' " + s.args + " 2>/dev/null";
            code = WEXITSTATUS(std::system(command.c_str()));
        } else {
            std::vector<std::string> args = {"--interface", replay};
            for (const std::string& w : words(s.args, (dir / s.output).string()))
                args.push_back(w);
            const test::CliResult result = test::runCliInProcess(args);
            code = result.code;
            out = result.out;
            if (!fs::exists(logs / (s.name + ".out"))) {
                EXPECT_EQ(code, 1);
                EXPECT_THAT(result.err, HasSubstr("record the session again with --bus-log-full"));
                continue;
            }
        }
        EXPECT_EQ(code, 0);
        const std::string recorded = test::readFile(logs / (s.name + ".out"));
        EXPECT_TRUE((s.output == "stdout" ? out : test::readFile(dir / s.output)) == recorded);
    }
}

// A run logged on the simulated bench replays to the same bytes (a 2.3 MB bitmap, full
// data), the summary names the instrument, and a run that differs is stopped at the line
// where it parts from the log.
TEST(BusLogReplay, LoggedRunReplaysAndADifferentRunIsStopped) {
    const fs::path dir = test::makeTempDir("bus-log-roundtrip");
    const std::string log = (dir / "bmp.log").string();
    const test::CliResult recorded =
        test::runCliInProcess({"--interface", "sim", "--bus-log", log, "--bus-log-full", "hardcopy",
                               "12", "--format", "BMP", "-o", (dir / "a.bmp").string()});
    ASSERT_EQ(recorded.code, 0) << recorded.err;
    EXPECT_THAT(recorded.err, ::testing::EndsWith("bus log written to " + log + " (32 calls)\n"));

    const test::CliResult replayed =
        test::runCliInProcess({"--interface", "replay:" + log, "hardcopy", "12", "--format", "BMP",
                               "-o", (dir / "b.bmp").string()});
    EXPECT_EQ(replayed.code, 0) << replayed.err;
    EXPECT_TRUE(test::readFile(dir / "a.bmp") == test::readFile(dir / "b.bmp"));

    const test::CliResult other = test::runCliInProcess(
        {"--interface", "replay:" + log, "hardcopy", "7", "-o", (dir / "c.wmf").string()});
    EXPECT_EQ(other.code, 1);
    EXPECT_THAT(other.err, HasSubstr("replay: the run differs from the bus log at line 4: the "
                                     "log has ibdev board=0 pad=12 sad=96 tmo=11 eot=1 eos=0; "
                                     "the program did ibdev board=0 pad=7"));

    const test::CliResult summary = test::runCliInProcess({"bus-log", "summary", log});
    EXPECT_THAT(summary.out, HasSubstr("GPIB 0/12/96\n  identity:  Veltronik,KLR-20,100112/004,3.10"
                                       "\n  calls:     "));
    EXPECT_THAT(summary.out, HasSubstr("read:      2359"));
}

}  // namespace
}  // namespace benchcap::bus::log
