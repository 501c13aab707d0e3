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

#include <QImage>
#include <QSvgRenderer>
#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include "cli/cli.h"
#include "cli_runner.h"
#include "hardcopy/picture/wmf_writer.h"
#include "support/file_faults.h"
#include "support/image_summary.h"
#include "support/metafile_samples.h"
#include "support/table_file.h"
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

// A file-size limit (ulimit -f) and a standard error whose reader is gone, on the real
// program: a failed write naming the file, no temporary file or half row left behind, and
// a message that cannot be printed costs no row.
TEST(CliOutput, ASizeLimitOrAClosedStandardErrorCostsNoData) {
    const struct {
        void (*inChild)();
        std::vector<std::string> args;
        int code;
        const char* said;  // on stderr
    } runs[] = {
        {[] {
             const rlimit limit{50'000, RLIM_INFINITY};
             setrlimit(RLIMIT_FSIZE, &limit);
         },
         {"sim", "hardcopy", "7", "-o", "{tmp}/shot.bmp"},
         1,
         "/shot.bmp\": File too large"},
        {[] {
             const rlimit limit{10'000, RLIM_INFINITY};
             setrlimit(RLIMIT_FSIZE, &limit);
         },
         {"sim", "record", "7", "--trace", "1:0.1", "--count", "500", "-o", "{tmp}/r"},
         1,
         "File too large (the file-size limit, ulimit -f). The recording ends here"},
        // A broken block in every trace: the outcome is said on stderr, which nobody reads.
        {[] {
             int fds[2];
             if (pipe(fds) == 0 && dup2(fds[1], STDERR_FILENO) >= 0)
                 close(fds[0]);
         },
         {"sim:" + (test::testDataDir() / "cli" / "bad-block.yaml").string(), "record", "4",
          "--trace", "1:1", "--count", "3", "-o", "{tmp}/r"},
         0,
         ""},
    };
    for (const auto& run : runs) {
        const std::filesystem::path tmp = test::makeTempDir("cli-limits");
        std::vector<std::string> args = {"--interface"};
        for (std::string a : run.args)
            args.push_back(a.starts_with("{tmp}") ? (tmp / a.substr(6)).string() : a);
        SCOPED_TRACE(args[1] + " " + args[2]);
        const test::CliResult r = test::runCliProcess(args, {}, run.inChild);
        EXPECT_EQ(r.code, run.code) << r.err;
        EXPECT_NE(r.err.find(run.said), std::string::npos) << r.err;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(tmp)) {
            const std::string name = entry.path().filename().string();
            EXPECT_FALSE(name.starts_with(".")) << "a temporary file is left: " << name;
            EXPECT_TRUE(!name.ends_with(".csv") || test::readFile(entry.path()).ends_with("\r\n"))
                << name;
        }
        EXPECT_TRUE(run.code != 0 || r.out.find("recorded 3 rows") != std::string::npos) << r.out;
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

// benchcap-cli trace --plot: the picture's format and size as asked, beside the text;
// what it draws is pinned by the trace plot's own tests.
namespace fs = std::filesystem;

test::CliResult run(std::vector<std::string> args) {
    return test::runCliInProcess(std::move(args));
}

class CliTracePlot : public ::testing::Test {
  protected:
    fs::path dir = test::makeTempDir("cliplot");
};

TEST_F(CliTracePlot, PictureOfTheAskedFormatAndSizeBesideTheText) {
    // The file, the size asked (nullptr: the default) and the picture's size.
    for (const auto& [name, size, width, height] :
         {std::tuple{"plot.png", (const char*)nullptr, 1024, 768},
          {"small.PNG", "320x200", 320, 200},
          {"plot.svg", "640x480", 640, 480},
          {"plot.pdf", nullptr, 1024, 768}}) {
        const fs::path file = dir / name;
        std::vector<std::string> args = {"--interface", "sim",    "trace",      "7",
                                         "1",           "--plot", file.string()};
        if (size)
            args.insert(args.end(), {"--size", size});
        const test::CliResult r = run(args);
        ASSERT_EQ(r.code, 0) << name << ": " << r.err;
        EXPECT_EQ(r.out.substr(0, 10), "950000000\t") << name;  // the text as without --plot
        const std::string bytes = test::readFile(file);
        const QByteArray content(bytes.data(), static_cast<qsizetype>(bytes.size()));
        const std::string ext = fs::path(name).extension().string();
        if (ext == ".png" || ext == ".PNG")
            EXPECT_EQ(QImage::fromData(content, "PNG").size(), QSize(width, height));
        else if (ext == ".svg")
            EXPECT_EQ(QSvgRenderer(content).viewBox(), QRect(0, 0, width, height));
        else
            EXPECT_NE(bytes.find("/MediaBox [0 0 1024.000000 768.000000]"), std::string::npos);
    }
}

TEST_F(CliTracePlot, BlankPlotIsWrittenWithANoteWhy) {
    // One value draws nothing: the file is written all the same, and stderr says why.
    const std::string bench = test::simBench(
        "instruments:\n  - {address: 7, kind: spectrum-analyzer, idn: "
        "\"Veltronik,KLT-3,100871/012,1.70\", points: 1}\n");
    const fs::path png = dir / "one.png";
    const test::CliResult r =
        run({"--interface", bench, "trace", "7", "1", "--plot", png.string()});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(fs::exists(png));
    EXPECT_NE(r.err.find("is blank: the trace holds one value only"), std::string::npos) << r.err;
}

// benchcap-cli render: damage is reported (and refused with --strict), output goes
// through OutputFile under the exact bytes of the name given, one clean message each.
namespace fs = std::filesystem;

struct CliRun {
    int code;
    std::string out;
    std::string err;
    std::string processStderr;  // what reached file descriptor 2 (library noise)
};

// Runs the command with the process's stderr captured, so that lines the image
// libraries would print there are seen too.
CliRun runCapturingStderr(const std::vector<std::string>& args) {
    const fs::path capture = test::makeTempDir("stderr") / "stderr.txt";
    std::fflush(stderr);
    const int saved = dup(2);
    FILE* file = std::fopen(capture.c_str(), "w");
    dup2(fileno(file), 2);
    std::ostringstream out, err;
    const int code = runCli(args, out, err);
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    std::fclose(file);
    return {code, out.str(), err.str(), test::readFile(capture)};
}

size_t occurrences(const std::string& text, const std::string& word) {
    size_t n = 0;
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1))
        ++n;
    return n;
}

// Damaged input (the picture written with one warning, refused by --strict), any name's
// bytes, every page, an output that is the input under any name (refused, the input kept),
// and one message naming a file once; nothing else left in the folder.
TEST(CliRender, OneRunPerBehaviour) {
    const fs::path dir = test::makeTempDir("render");
    const std::string whole = picture::test::navyScreen(64, 48);
    std::string png = test::plainImageBytes(QSize(8, 8), Qt::red, "PNG");
    ASSERT_FALSE(png.empty());
    png[png.size() - 6] = '\0';  // the end chunk's name
    const std::string pages = "IN;SP1;PD10000,7000;PG;SP2;PD10000,0;PG;SP3;PD0,7000;";
    std::string tooManyPages = "IN;";
    for (int page = 0; page < 70; ++page)
        tooManyPages += "SP1;PU0,0;PD" + std::to_string(page * 100) + ",7000;PG;";
    const std::map<std::string, std::string> inputs = {
        {"whole.wmf", whole},
        {"cut.wmf", whole.substr(0, whole.size() - 17)},  // inside the last record
        {"png.wmf", picture::test::embeddedPngSample(png, 8, 8)},
        // A plotter capture is told by its content, whatever its name.
        {"capture.bin", "IN;SP1;PU0,0;PD10000,7000;PU;SP2;PA0,7000;PD10000,0;"},
        {"pages.hpgl", pages},
        {"spiky.hpgl", "IN;SP1;" + test::spikes(1000)},
        {"seventy.hpgl", tooManyPages},
        {"in.png", pages},
        {"m-2.png", pages},
    };
    std::set<std::string> expected = {"link.png"};
    for (const auto& [name, content] : inputs) {
        test::writeBytes(dir / name, content);
        expected.insert(name);
    }
    fs::create_symlink("in.png", dir / "link.png");
    for (const auto& c : test::readTable("cli/render.tsv")) {
        SCOPED_TRACE(c[0]);
        std::vector<std::string> args = {"render"};
        std::istringstream words(c[0]);
        for (std::string a; words >> a;)
            args.push_back(a.find('.') != std::string::npos ? (dir / a).string() : a);
        const CliRun r = runCapturingStderr(args);
        EXPECT_EQ(r.code, std::stoi(c[1])) << r.err;
        EXPECT_NE((r.out + r.err).find(c[4]), std::string::npos) << r.out << r.err;
        EXPECT_EQ(occurrences(r.err, "\n"), std::stoul(c[5])) << r.err;
        EXPECT_LE(std::max(occurrences(r.err, args[1]), occurrences(r.err, args[3])), 1u) << r.err;
        EXPECT_EQ(r.processStderr.find("libpng"), std::string::npos) << r.processStderr;
        std::istringstream files(c[2]);
        bool first = true;
        for (std::string f; files >> f; first = false) {
            expected.insert(f);
            EXPECT_TRUE(!first || test::readFile(dir / f).rfind(c[3], 0) == 0) << f;
        }
    }
    const std::vector<std::string> found = test::filesIn(dir);
    EXPECT_EQ(std::set<std::string>(found.begin(), found.end()), expected);  // no temporary left
    for (const auto& [name, content] : inputs)
        EXPECT_EQ(test::readFile(dir / name), content) << name;
    EXPECT_EQ(occurrences(test::readFile(dir / "g.pdf"), "/Type /Page\n"), 3u);
}

}  // namespace
}  // namespace benchcap::cli
