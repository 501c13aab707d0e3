#include "recorder/recorder.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "adapter/adapter_fixtures.h"
#include "lan/lan_rig.h"
#include "recipes/recipe_book.h"
#include "recorder/record_files.h"
#include "support/bench_rig.h"
#include "support/file_faults.h"
#include "support/golden.h"
#include "support/test_paths.h"

namespace benchcap::recorder {
namespace {

// A trace that reads at once (7), one deaf from 2.5 s to 6 s of bench time (8), one so slow
// that a trace outlasts a one-second interval (9), one whose blocks break off with a bus
// error (10), a drifting one whose trace asked for at 10 s answers 30.5 s late, after the
// read's time-out (11), and a network analyzer with a complex channel (16).
constexpr const char* kBench = R"(
instruments:
  - {address: 7, kind: spectrum-analyzer, idn: "Veltronik,KLT-3,1,1.70", traces_shown: [1, 2],
     points: 5, center_hz: 1.0e6, span_hz: 1.0e3}
  - {address: 8, kind: spectrum-analyzer, idn: "Veltronik,KLT-3,2,1.70", points: 3,
     faults: {silent_from_s: 2.5, silent_until_s: 6}}
  - {address: 9, kind: spectrum-analyzer, idn: "Veltronik,KLT-3,3,1.70", points: 3,
     rate_bytes_per_s: 8}
  - {address: 10, kind: spectrum-analyzer, idn: "Veltronik,KLT-3,4,1.70", points: 3,
     faults: {bus_error_after: 4}}
  - {address: 11, kind: spectrum-analyzer, idn: "Veltronik,KLT-3,5,1.70", points: 3,
     drift_db_per_s: 1, faults: {late_answer_from_s: 5, late_answer_until_s: 15,
     late_answer_by_s: 30.5}}
  - {address: 16, kind: network-analyzer, idn: "Veltronik,NQD8,1,1.45", points: 3,
     channels: {1: real, 2: complex}}
)";

constexpr int64_t kNoonUtc = 1796644800LL * 1'000'000;  // 2026-12-07T12:00:00Z

// Every file of the folder by name: its size, and the lines of the CSV files.
std::string folderText(const std::filesystem::path& folder) {
    std::string out;
    for (const std::string& name : test::filesIn(folder)) {
        const std::string bytes = test::readFile(folder / name);
        out += "== " + name + " (" + std::to_string(bytes.size()) + " bytes)\n";
        if (!name.ends_with(".csv"))
            continue;
        // Each line behind "| ", so that a CSV comment is no comment of the golden file.
        std::istringstream lines(bytes);
        for (std::string line; std::getline(lines, line);) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            out += "| " + line + "\n";
        }
    }
    return out;
}

// "ADDRESS ROW... [count=N | duration=S | stop=ROWS] [rotate=BYTES] [full=BYTES]
// [disk=BYTES] [comma] [crlf]" (full: no file may grow beyond BYTES; disk: BYTES are free for all
// files, then writes fail with ENOSPC), a row being
// "h=S" (a hardcopy every S seconds) or "tN=S" (trace N): the recording on the virtual
// clock, how it ended, and every file of its folder.
std::string Recording(const std::string& input) {
    std::istringstream in(input);
    int address = 0;
    in >> address;
    test::BenchRig rig(kBench);
    RecorderSettings settings;
    settings.interfaceName = "sim";
    int64_t stopAfter = -1;
    int64_t fileLimit = -1;
    std::size_t diskBytes = SIZE_MAX;
    for (std::string word; in >> word;) {
        const std::string key = word.substr(0, word.find('='));
        const double value =
            word.find('=') == std::string::npos ? 0 : std::stod(word.substr(word.find('=') + 1));
        const auto micros = static_cast<int64_t>(value * 1e6);
        if (key == "h" || (key.size() == 2 && key[0] == 't'))
            settings.rows.push_back({key == "h" ? 0 : key[1] - '0', micros});
        else if (key == "count")
            settings.count = static_cast<int64_t>(value);
        else if (key == "duration")
            settings.durationMicros = micros;
        else if (key == "stop")
            stopAfter = static_cast<int64_t>(value);
        else if (key == "rotate")
            settings.rotateBytes = static_cast<int64_t>(value);
        else if (key == "full")
            fileLimit = static_cast<int64_t>(value);
        else if (key == "disk")
            diskBytes = static_cast<std::size_t>(value);
        else if (key == "comma")
            settings.decimalSeparator = ',';
        else if (key == "crlf")  // an interface name with a line break in it
            settings.interfaceName = "sim\r\nbench";
        else if (key == "touchstone")
            settings.touchstone = true;
    }
    const std::filesystem::path folder = test::makeTempDir("recorder");
    settings.folder = folder;
    int64_t rows = 0;
    const test::SmallDisk disk(diskBytes);
    RecorderServices services{.session = rig.session,
                              .clock = rig.bench.clock(),
                              .address = static_cast<int16_t>(address),
                              .wallStartMicros = kNoonUtc,
                              .calls = disk.calls()};
    services.stopRequested = [&rows, stopAfter] { return stopAfter >= 0 && rows >= stopAfter; };
    services.progress = [&rows](const RecorderProgress& p) { rows = p.rows; };
    std::optional<test::FileSizeLimit> full;
    if (fileLimit > 0)
        full.emplace(static_cast<rlim_t>(fileLimit));
    const RecordingEnd end = Record(services, settings);
    full.reset();
    static constexpr const char* kReasons[] = {"stopped", "duration", "count", "failed"};
    std::string message = end.status.error();
    if (const auto at = message.find(folder.string()); at != std::string::npos)
        message.replace(at, folder.string().size(), "{folder}");
    return std::string("ended: ") + kReasons[static_cast<int>(end.reason)] + ", " +
           std::to_string(end.rows) + " rows" + (message.empty() ? "" : ": " + message) + "\n" +
           folderText(folder);
}

TEST(RecorderTest, RecordingsOnTheVirtualBench) {
    test::checkGolden("golden/recordings.txt", Recording);
}

// Another maker's analyzer, its pictures and traces by its recipe.
TEST(RecorderTest, AnotherMakersInstrumentIsRecordedByItsRecipe) {
    const recipes::RecipeBook book = recipes::RecipeBook::shipped().value();
    test::BenchRig rig("instruments:\n  - " +
                       recipes::benchEntryFor(*book.named("rs-fsv-fsw-fpl"), 20) + "\n");
    RecorderSettings settings;
    settings.rows = {{0, 2'000'000}, {2, 1'000'000}};
    settings.count = 3;
    settings.recipes = &book;
    settings.folder = test::makeTempDir("recorder-recipe");
    RecorderServices services{.session = rig.session, .clock = rig.bench.clock(), .address = 20};
    const RecordingEnd end = Record(services, settings);
    EXPECT_EQ(end.reason, RecordingEndReason::Count) << end.status.error();
    const std::string record = test::readFile(settings.folder / "record.csv");
    EXPECT_EQ(std::count(record.begin(), record.end(), '\n'), 4) << record;  // head + 3 rows
    EXPECT_EQ(record.find(",refused,"), std::string::npos) << record;
    EXPECT_NE(record.find(",hardcopy,"), std::string::npos) << record;
    // Two acquisitions of 401 values after their three time columns.
    std::istringstream values(test::readFile(settings.folder / "trace2.csv"));
    int acquisitions = 0;
    for (std::string line; std::getline(values, line);) {
        if (line.empty() || !std::isdigit(static_cast<unsigned char>(line[0])))
            continue;
        ++acquisitions;
        EXPECT_EQ(std::count(line.begin(), line.end(), ','), 2 + 401);
    }
    EXPECT_EQ(acquisitions, 2);
}

// The rows of STEM.csv and its later parts in `folder`, split at commas. `problems` gets
// every row that is not whole (cells unlike its part's column row, or a sequence that does
// not rise); only the last row of the last part may be cut off, and only when `cutLast`.
std::vector<std::vector<std::string>> rowsOf(const std::filesystem::path& folder,
                                             const std::string& stem, bool cutLast,
                                             std::string& problems) {
    std::vector<std::vector<std::string>> rows;
    const auto path = [&](int part) {
        return folder / (stem + (part == 1 ? "" : "-" + std::to_string(part)) + ".csv");
    };
    for (int part = 1; std::filesystem::exists(path(part)); ++part) {
        std::istringstream lines(test::readFile(path(part)));
        std::size_t cells = 0;
        for (std::string line; std::getline(lines, line);) {
            if (lines.eof() || !line.ends_with('\r')) {
                if (!cutLast || std::filesystem::exists(path(part + 1)))
                    problems += stem + ": cut off: " + line + "\n";
                break;
            }
            line.pop_back();
            const auto n = static_cast<std::size_t>(std::count(line.begin(), line.end(), ','));
            if (!std::isdigit(static_cast<unsigned char>(line[0]))) {
                cells = line[0] == '#' ? cells : n;  // the column names, the stimulus axis
                continue;
            }
            std::vector<std::string>& row = rows.emplace_back();
            std::istringstream in(line);
            for (std::string cell; std::getline(in, cell, ',');)
                row.push_back(cell);
            if (n != cells ||
                (rows.size() > 1 && std::stoll(line) <= std::stoll(rows.end()[-2][0])))
                problems += stem + ": broken: " + line + "\n";
        }
    }
    return rows;
}

// Rows not whole; unless a kill may have cut the last ones (`cutLast`), also trace rows
// whose sequence record.csv does not have.
std::string brokenRows(const std::filesystem::path& folder, bool cutLast) {
    std::string problems;
    std::vector<std::string> recorded;
    for (const auto& row : rowsOf(folder, "record", cutLast, problems))
        recorded.push_back(row[0]);
    for (const char* stem : {"trace1", "trace2"}) {
        for (const auto& row : rowsOf(folder, stem, cutLast, problems)) {
            if (!cutLast && std::find(recorded.begin(), recorded.end(), row[0]) == recorded.end())
                problems += std::string(stem) + ": row " + row[0] + " is not in record.csv\n";
        }
    }
    return problems;
}

// Trace 1 and 2 of address 7 as fast as the virtual clock goes (until `count` items), or
// its hardcopies.
RecordingEnd recordFast(const std::filesystem::path& folder, int64_t rotateBytes, int64_t count,
                        bool hardcopies = false) {
    test::BenchRig rig(kBench);
    RecorderSettings settings;
    settings.rows = {{1, 1000}, {2, 1000}};
    if (hardcopies)
        settings.rows = {{0, 1000}};
    settings.folder = folder;
    settings.rotateBytes = rotateBytes;
    settings.count = count;
    RecorderServices services{.session = rig.session, .clock = rig.bench.clock(), .address = 7};
    return Record(services, settings);
}

// Runs `body` in a child process and returns what it returned; the child is killed with
// SIGKILL when `killNow` says so (asked every 10 ms) or after 30 s.
std::string inChild(
    const std::function<std::string()>& body,
    const std::function<bool()>& killNow = [] { return false; }) {
    const std::filesystem::path result = test::makeTempDir("recorder-child") / "result";
    const pid_t child = ::fork();
    if (child == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        test::writeBytes(result, body());
        ::_exit(0);
    }
    int status = 0;
    bool ended = false;
    for (int n = 0; n < 3000 && !ended && !killNow(); ++n) {
        ended = ::waitpid(child, &status, WNOHANG) == child;
        ::usleep(ended ? 0 : 10'000);
    }
    if (!ended && ::kill(child, SIGKILL) == 0)
        ::waitpid(child, &status, 0);
    return test::readFile(result);
}

// Killed with SIGKILL once the third part of record.csv began, a recording keeps every
// row whole but perhaps a file's last.
TEST(RecorderTest, AKilledRecordingLeavesWholeRows) {
    const std::filesystem::path folder = test::makeTempDir("recorder-kill");
    EXPECT_EQ(inChild([&folder] { return recordFast(folder, 16384, INT64_MAX).status.error(); },
                      [&folder] { return std::filesystem::exists(folder / "record-3.csv"); }),
              "");
    EXPECT_TRUE(std::filesystem::exists(folder / "record-3.csv"));
    EXPECT_EQ(brokenRows(folder, true), "");
}

// A real full disk: a 64 KiB tmpfs in a mount namespace of a child process (as root, or in
// a user namespace where the system allows one). A picture that does not fit ends the
// recording as a CSV row does, rather than giving a row per hardcopy that says so.
class FullFileSystem : public ::testing::TestWithParam<bool> {};
INSTANTIATE_TEST_SUITE_P(Recorder, FullFileSystem, ::testing::Values(false, true));

TEST_P(FullFileSystem, EndsTheRecordingWithWholeRows) {
    const std::filesystem::path folder = test::makeTempDir("recorder-tmpfs");
    const std::string problems = inChild([&folder]() -> std::string {
        const std::string uid = std::to_string(::getuid()), gid = std::to_string(::getgid());
        bool own = ::unshare(CLONE_NEWNS) == 0;
        if (!own && ::unshare(CLONE_NEWUSER | CLONE_NEWNS) == 0) {
            test::writeBytes("/proc/self/setgroups", "deny");
            test::writeBytes("/proc/self/uid_map", "0 " + uid + " 1");
            test::writeBytes("/proc/self/gid_map", "0 " + gid + " 1");
            own = true;
        }
        // Never the test's own mount namespace: the mounts below stay in the child's.
        if (!own || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=64k") != 0)
            return std::string("skip: cannot mount a tmpfs: ") + std::strerror(errno);
        const RecordingEnd end = recordFast(folder, kDefaultRotateBytes, 100'000, GetParam());
        const std::string& error = end.status.error();
        const std::string file = folder.string() + (GetParam() ? "/HARDCOPY-" : "/");
        const bool named = error.find(file) != std::string::npos &&
                           error.find("No space left on device") != std::string::npos;
        return brokenRows(folder, false) +
               (end.reason == RecordingEndReason::Failed && named ? "" : "ended: " + error);
    });
    if (problems.starts_with("skip: "))
        GTEST_SKIP() << problems;
    EXPECT_EQ(problems, "");
}

// A "++" adapter (false) or a VXI-11 gateway (true) switched off for 1 s in the middle of a
// recording of trace 1 every 0.2 s on the real clock: rows "lost" while it is off, "ok" from
// the first due time after it is back (the driver connects again), each value once.
class RecordingThroughTheLan : public ::testing::TestWithParam<bool> {};

TEST_P(RecordingThroughTheLan, AnOutageGivesFailedRowsAndTheNextIntervalRecordsAgain) {
    constexpr int64_t kInterval = 200'000, kOutage = 1'000'000, kOffAt = 600'000;
    std::optional<test::Emulator> adapter;
    std::optional<test::LanRig> gateway;
    std::unique_ptr<bus::GpibDriver> driver;
    std::function<void()> switchOff;
    if (GetParam()) {
        gateway.emplace();
        driver = gateway->gatewayDriver();
        switchOff = [&gateway] { gateway->switchOffFor(kOutage / 1000); };
    } else {
        adapter.emplace(test::Emulator::Path::Tcp);
        driver = adapter->driver();
        switchOff = [&adapter] { adapter->switchOffFor(kOutage / 1000); };
    }
    bus::CurrentInstrument instrument;
    bus::Session session(*driver, instrument);
    bus::RealClock clock;
    RecorderSettings settings;
    settings.rows = {{1, kInterval}};
    settings.durationMicros = 3'000'000;
    settings.folder = test::makeTempDir("recorder-lan");
    RecorderServices services{session, clock};
    services.address = 7;
    int64_t offAt = -1;
    services.progress = [&](const RecorderProgress& p) {
        if (offAt < 0 && p.elapsedMicros >= kOffAt) {
            offAt = p.elapsedMicros;
            switchOff();
        }
    };
    const RecordingEnd end = Record(services, settings);
    EXPECT_EQ(end.reason, RecordingEndReason::Duration) << end.status.error();
    ASSERT_GE(offAt, 0);
    const int64_t backAt = offAt + kOutage;

    std::string problems;
    int64_t failedRows = 0, firstOkAfter = -1;
    std::vector<std::string> okSequences, traceSequences;
    for (const auto& row : rowsOf(settings.folder, "record", false, problems)) {
        const auto at = static_cast<int64_t>(std::stod(row[2]) * 1e6);
        if (row[5] == "ok" && at > offAt && at < backAt - kInterval)
            ADD_FAILURE() << "a row taken while the bus was off: " << row[0];
        failedRows += row[5] == "lost";
        if (row[5] == "ok" && at >= backAt && firstOkAfter < 0)
            firstOkAfter = at;
        if (row[5] == "ok")
            okSequences.push_back(row[0]);
    }
    EXPECT_GE(failedRows, 2);
    // From the first due time after its return, give or take the waking up.
    EXPECT_GE(firstOkAfter, backAt);
    EXPECT_LE(firstOkAfter, backAt + kInterval + 50'000);
    // Each ok row has its one trace row, and no trace row is there twice.
    for (const auto& row : rowsOf(settings.folder, "trace1", false, problems))
        traceSequences.push_back(row[0]);
    EXPECT_EQ(traceSequences, okSequences);
    EXPECT_EQ(problems, "");
}

INSTANTIATE_TEST_SUITE_P(Buses, RecordingThroughTheLan, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Vxi11" : "Adapter"; });

}  // namespace
}  // namespace benchcap::recorder
