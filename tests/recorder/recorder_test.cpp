#include "recorder/recorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>

#include "recorder/record_files.h"
#include "support/bench_rig.h"
#include "support/file_faults.h"
#include "support/golden.h"
#include "support/test_paths.h"

namespace benchcap::recorder {
namespace {

// A trace that reads at once (7), one deaf from 2.5 s to 6 s of bench time (8), one so slow
// that a trace outlasts a one-second interval (9), one whose blocks break off with a bus
// error (10) and a network analyzer with a complex channel (16).
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
  - {address: 16, kind: network-analyzer, idn: "Veltronik,NQD8,1,1.45", points: 3,
     channels: {2: complex}}
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

// "ADDRESS ROW... [count=N | duration=S | stop=ROWS] [rotate=BYTES] [full=BYTES] [comma]"
// (full: no file may grow beyond BYTES, as on a full disk), a row being
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
        else if (key == "comma")
            settings.decimalSeparator = ',';
    }
    const std::filesystem::path folder = test::makeTempDir("recorder");
    settings.folder = folder;
    int64_t rows = 0;
    RecorderServices services{rig.session, rig.bench.clock()};
    services.address = static_cast<int16_t>(address);
    services.wallStartMicros = kNoonUtc;
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

}  // namespace
}  // namespace benchcap::recorder
