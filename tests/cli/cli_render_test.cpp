// benchcap-cli render: damage is reported (and refused with --strict), output goes
// through OutputFile under the exact bytes of the name given, one clean message each.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QBuffer>
#include <QColor>
#include <QImage>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/cli.h"
#include "hardcopy/picture/wmf_writer.h"
#include "support/metafile_samples.h"
#include "support/test_paths.h"

namespace benchcap::cli {
namespace {

namespace fs = std::filesystem;

struct CliRun {
    int code;
    std::string out;
    std::string err;
    std::string processStderr;  // what reached file descriptor 2 (library noise)
};

// Runs the command with the process's stderr captured, so that lines the image
// libraries would print there are seen too.
CliRun run(const std::vector<std::string>& args) {
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

void writeFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

size_t occurrences(const std::string& text, const std::string& word) {
    size_t n = 0;
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1))
        ++n;
    return n;
}

std::string screen() {
    wmf::Writer w(64, 48);
    w.brush(wmf::rgb(0, 0, 128));
    w.rectangle(0, 0, 64, 48);
    return w.finish();
}

TEST(CliRender, DamageIsReportedAndStrictRefusesIt) {
    const fs::path dir = test::makeTempDir("render");
    const std::string whole = screen();
    writeFile(dir / "cut.wmf", whole.substr(0, whole.size() - 17));  // inside the last record
    writeFile(dir / "whole.wmf", whole);

    CliRun r = run({"render", (dir / "whole.wmf").string(), "-o", (dir / "whole.png").string()});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, (dir / "whole.png").string() + ": 64x48\n");

    r = run({"render", (dir / "cut.wmf").string(), "-o", (dir / "cut.png").string()});
    EXPECT_EQ(r.code, 0);
    EXPECT_TRUE(fs::exists(dir / "cut.png"));
    EXPECT_EQ(occurrences(r.err, "warning"), 1u) << r.err;
    EXPECT_NE(r.err.find("truncated"), std::string::npos) << r.err;

    r = run(
        {"render", (dir / "cut.wmf").string(), "-o", (dir / "strict.png").string(), "--strict"});
    EXPECT_EQ(r.code, kExitNoAnswer);
    EXPECT_FALSE(fs::exists(dir / "strict.png"));
    EXPECT_NE(r.err.find("damaged"), std::string::npos) << r.err;
    EXPECT_EQ(occurrences(r.err, (dir / "cut.wmf").string()), 1u) << r.err;

    // A whole file passes --strict.
    r = run(
        {"render", (dir / "whole.wmf").string(), "-o", (dir / "strict.png").string(), "--strict"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(fs::exists(dir / "strict.png"));
}

TEST(CliRender, DamagedEmbeddedImageIsOneWarningAndNoLibraryNoise) {
    const fs::path dir = test::makeTempDir("render");
    QImage red(8, 8, QImage::Format_RGB32);
    red.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(red.save(&buffer, "PNG"));
    std::string png(bytes.constData(), static_cast<size_t>(bytes.size()));
    png[png.size() - 6] = '\0';  // the end chunk's name
    writeFile(dir / "png.wmf", picture::test::embeddedPngSample(png, 8, 8));

    const CliRun r = run({"render", (dir / "png.wmf").string(), "-o", (dir / "png.png").string()});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(occurrences(r.err, "warning"), 1u) << r.err;
    EXPECT_NE(r.err.find("embedded PNG image is damaged"), std::string::npos) << r.err;
    EXPECT_EQ(r.processStderr.find("libpng"), std::string::npos) << r.processStderr;
}

TEST(CliRender, NamesAreTheArgumentsBytesAndMessagesNameAFileOnce) {
    const fs::path dir = test::makeTempDir("render");
    writeFile(dir / "screen.wmf", screen());
    // Latin-1 "ä": not UTF-8; the file must get exactly these bytes as its name.
    const std::string name = (dir / "bild\xe4.png").string();
    CliRun r = run({"render", (dir / "screen.wmf").string(), "-o", name});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(fs::exists(fs::path(name)));
    size_t files = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir))
        ++files;
    EXPECT_EQ(files, 2u);  // screen.wmf and the picture, no temporary left

    const std::string missing = (dir / "missing.wmf").string();
    r = run({"render", missing, "-o", (dir / "x.png").string()});
    EXPECT_EQ(r.code, kExitNoAnswer);
    EXPECT_EQ(occurrences(r.err, missing), 1u) << r.err;
    EXPECT_EQ(occurrences(r.err, "\n"), 1u) << r.err;

    r = run({"render", (dir / "screen.wmf").string(), "-o", (dir / "no" / "x.png").string()});
    EXPECT_EQ(r.code, kExitNoAnswer);
    EXPECT_EQ(occurrences(r.err, (dir / "no" / "x.png").string()), 1u) << r.err;
}

}  // namespace
}  // namespace benchcap::cli

namespace benchcap::cli {
namespace {

// A plotter capture is told by its content, whatever its name, and goes to PNG, SVG or PDF
// by the output's extension; a picture stays vector in SVG and PDF.
TEST(CliRender, PlotsAndPicturesToEveryFormat) {
    const fs::path dir = test::makeTempDir("render-formats");
    const fs::path plot = dir / "capture.bin";  // no telling extension
    writeFile(plot, "IN;SP1;PU0,0;PD10000,7000;PU;SP2;PA0,7000;PD10000,0;");
    const fs::path wmf = dir / "screen.wmf";
    writeFile(wmf, screen());
    struct Case {
        fs::path in;
        std::string out;
        std::string opening;  // the output format's first bytes
        std::string size;
    } cases[] = {
        {plot, "p.png", "\x89PNG", "1024x"}, {plot, "p.SVG", "<?xml", "1024x"},
        {plot, "p.pdf", "%PDF", "1024x"},    {wmf, "w.svg", "<?xml", "64x48"},
        {wmf, "w.pdf", "%PDF", "64x48"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.out);
        const fs::path out = dir / c.out;
        const CliRun r = run({"render", c.in.string(), "-o", out.string()});
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_NE(r.out.find(c.size), std::string::npos) << r.out;
        EXPECT_EQ(test::readFile(out).rfind(c.opening, 0), 0u);
    }
    // The plot is drawn where the plotter drew: red ink on one diagonal, black on the other.
    ASSERT_EQ(run({"render", plot.string(), "-o", (dir / "p.png").string()}).code, 0);
    const QImage image(QString::fromStdString((dir / "p.png").string()));
    ASSERT_FALSE(image.isNull());
    int black = 0;
    int red = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            black += c.red() < 80 && c.green() < 80 && c.blue() < 80;
            red += c.red() > 150 && c.green() < 80 && c.blue() < 80;
        }
    }
    EXPECT_GT(black, 500);
    EXPECT_GT(red, 500);
    // An output format it cannot write is refused before anything is read.
    EXPECT_EQ(run({"render", plot.string(), "-o", (dir / "p.gif").string()}).code, 2);
    EXPECT_FALSE(fs::exists(dir / "p.gif"));
}

}  // namespace
}  // namespace benchcap::cli

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <thread>

extern char** environ;

namespace benchcap::cli {
namespace {

// A polygon of `n` full-height spikes: much rasterizer work in few bytes.
std::string spikes(int n) {
    std::string s = "PU0,0;PM0;PD";
    for (int i = 0; i < n; ++i)
        s += std::to_string(i * 10) + ",7000," + std::to_string(i * 10 + 5) + ",0,";
    return s + "0,0;PM2;FP;";
}

// Every page of a plot is written; a drawing cut short fails --strict.
TEST(CliRender, EveryPageIsWrittenAndACutDrawingIsNoStrictSuccess) {
    const fs::path dir = test::makeTempDir("render-pages");
    writeFile(dir / "pages.hpgl", "IN;SP1;PD10000,7000;PG;SP2;PD10000,0;PG;SP3;PD0,7000;");
    writeFile(dir / "spiky.hpgl", "IN;SP1;" + spikes(1000));
    const struct {
        std::vector<std::string> args;
        int code;
        std::vector<std::string> files;  // written, beside the inputs
        std::string said;                // in the output or error text
    } cases[] = {
        {{"pages.hpgl", "-o", "p.png"}, 0, {"p.png", "p-2.png", "p-3.png"}, "p-3.png: 1024x"},
        {{"pages.hpgl", "-o", "p.svg"}, 0, {"p.svg", "p-2.svg", "p-3.svg"}, "p-2.svg: 1024x"},
        {{"pages.hpgl", "-o", "p.pdf"}, 0, {"p.pdf"}, ", 3 pages"},
        {{"spiky.hpgl", "-o", "s.png", "--strict"}, kExitNoAnswer, {}, "drawn only in part"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[2]);
        std::vector<std::string> args = {"render"};
        for (const std::string& a : c.args)
            args.push_back(a.find('.') != std::string::npos ? (dir / a).string() : a);
        const CliRun r = run(args);
        EXPECT_EQ(r.code, c.code) << r.err;
        EXPECT_NE((r.out + r.err).find(c.said), std::string::npos) << r.out << r.err;
        for (const std::string& file : c.files)
            EXPECT_TRUE(fs::exists(dir / file)) << file;
    }
    EXPECT_FALSE(fs::exists(dir / "s.png"));
    EXPECT_EQ(occurrences(test::readFile(dir / "p.pdf"), "/Type /Page\n"), 3u);
}

// Whether process `pid` has a handler for `signal` (SigCgt in /proc/PID/status).
bool catches(pid_t pid, int signal) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("SigCgt:", 0) == 0)
            return (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1) & 1) != 0;
    return false;
}

// SIGINT or SIGTERM while drawing: nothing written, the earlier file kept, 128 + signal.
TEST(CliRender, SignalStopsTheDrawingAndKeepsTheEarlierFile) {
    const fs::path dir = test::makeTempDir("render-signal");
    std::string plot = "IN;SP1;";
    for (int page = 0; page < 60; ++page)
        plot += spikes(45) + "PG;";  // each page just within the drawing budget
    writeFile(dir / "slow.hpgl", plot);
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        writeFile(dir / "out.png", "earlier");
        std::string path = BENCHCAP_CLI_PATH, render = "render", in = (dir / "slow.hpgl").string(),
                    o = "-o", out = (dir / "out.png").string();
        char* argv[] = {path.data(), render.data(), in.data(), o.data(), out.data(), nullptr};
        pid_t pid = -1;
        ASSERT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, argv, environ), 0);
        // Once the program catches the signal (it may not be drawing yet: then it draws
        // nothing), or after 5 s.
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!catches(pid, signal) && std::chrono::steady_clock::now() < limit)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        kill(pid, signal);
        int status = 0;
        while (waitpid(pid, &status, WNOHANG) == 0 && std::chrono::steady_clock::now() < limit)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (std::chrono::steady_clock::now() >= limit) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
        }
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + signal) << status;
        EXPECT_EQ(test::readFile(dir / "out.png"), "earlier");
        size_t files = 0;
        for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir))
            ++files;
        EXPECT_EQ(files, 2u);  // slow.hpgl and out.png, no temporary left
    }
}

}  // namespace
}  // namespace benchcap::cli
