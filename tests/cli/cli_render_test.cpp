// benchcap-cli render: damage is reported (and refused with --strict), output goes
// through OutputFile under the exact bytes of the name given, one clean message each.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QBuffer>
#include <QImage>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "cli/cli.h"
#include "cli_runner.h"
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

// Damaged input (the picture written with one warning, refused by --strict), any name's
// bytes, every page, and one message naming a file once; nothing else left in the folder.
TEST(CliRender, OneRunPerBehaviour) {
    const fs::path dir = test::makeTempDir("render");
    const std::string whole = screen();
    writeFile(dir / "whole.wmf", whole);
    writeFile(dir / "cut.wmf", whole.substr(0, whole.size() - 17));  // inside the last record
    QImage red(8, 8, QImage::Format_RGB32);
    red.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(red.save(&buffer, "PNG"));
    std::string png(bytes.constData(), static_cast<size_t>(bytes.size()));
    png[png.size() - 6] = '\0';  // the end chunk's name
    writeFile(dir / "png.wmf", picture::test::embeddedPngSample(png, 8, 8));
    // A plotter capture is told by its content, whatever its name.
    writeFile(dir / "capture.bin", "IN;SP1;PU0,0;PD10000,7000;PU;SP2;PA0,7000;PD10000,0;");
    writeFile(dir / "pages.hpgl", "IN;SP1;PD10000,7000;PG;SP2;PD10000,0;PG;SP3;PD0,7000;");
    writeFile(dir / "spiky.hpgl", "IN;SP1;" + test::spikes(1000));
    const struct {
        std::vector<std::string> args;  // after "render"; names in the folder
        int code;
        std::vector<std::string> files;  // written, the first starting with `opening`
        const char* opening;
        std::string said;  // part of stdout or stderr
        int warnings;      // lines of stderr, each naming a file once
    } cases[] = {
        {{"whole.wmf", "-o", "whole.png"}, 0, {"whole.png"}, "\x89PNG", "whole.png: 64x48\n", 0},
        {{"cut.wmf", "-o", "cut.png"}, 0, {"cut.png"}, "", "truncated", 1},
        {{"cut.wmf", "-o", "strict.png", "--strict"}, 1, {}, "", "damaged", 1},
        {{"whole.wmf", "-o", "whole2.png", "--strict"}, 0, {"whole2.png"}, "", "64x48", 0},
        {{"png.wmf", "-o", "png.png"}, 0, {"png.png"}, "", "embedded PNG image is damaged", 1},
        {{"whole.wmf", "-o", "bild\xe4.png"}, 0, {"bild\xe4.png"}, "", "64x48", 0},
        {{"missing.wmf", "-o", "x.png"}, 1, {}, "", "missing.wmf", 1},
        {{"whole.wmf", "-o", "no/x.png"}, 1, {}, "", "no/x.png", 1},
        {{"capture.bin", "-o", "p.png"}, 0, {"p.png"}, "\x89PNG", "1024x", 0},
        {{"capture.bin", "-o", "p.SVG"}, 0, {"p.SVG"}, "<?xml", "1024x", 0},
        {{"capture.bin", "-o", "p.pdf"}, 0, {"p.pdf"}, "%PDF", "1024x", 0},
        {{"whole.wmf", "-o", "w.svg"}, 0, {"w.svg"}, "<?xml", "64x48", 0},
        {{"whole.wmf", "-o", "w.pdf"}, 0, {"w.pdf"}, "%PDF", "64x48", 0},
        {{"capture.bin", "-o", "p.gif"}, 2, {}, "", "the output is PNG, SVG or PDF", 1},
        {{"pages.hpgl", "-o", "g.png"},
         0,
         {"g.png", "g-2.png", "g-3.png"},
         "",
         "g-3.png: 1024x",
         0},
        {{"pages.hpgl", "-o", "g.svg"},
         0,
         {"g.svg", "g-2.svg", "g-3.svg"},
         "",
         "g-2.svg: 1024x",
         0},
        {{"pages.hpgl", "-o", "g.pdf"}, 0, {"g.pdf"}, "", ", 3 pages", 0},
        {{"spiky.hpgl", "-o", "s.png", "--strict"}, 1, {}, "", "drawn only in part", 1},
    };
    std::set<std::string> expected = {"whole.wmf",   "cut.wmf",    "png.wmf",
                                      "capture.bin", "pages.hpgl", "spiky.hpgl"};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[2]);
        std::vector<std::string> args = {"render"};
        for (const std::string& a : c.args)
            args.push_back(a.find('.') != std::string::npos ? (dir / a).string() : a);
        const CliRun r = run(args);
        EXPECT_EQ(r.code, c.code) << r.err;
        EXPECT_NE((r.out + r.err).find(c.said), std::string::npos) << r.out << r.err;
        EXPECT_EQ(occurrences(r.err, "\n"), static_cast<size_t>(c.warnings)) << r.err;
        EXPECT_LE(std::max(occurrences(r.err, args[1]), occurrences(r.err, args[3])), 1u) << r.err;
        EXPECT_EQ(r.processStderr.find("libpng"), std::string::npos) << r.processStderr;
        expected.insert(c.files.begin(), c.files.end());
        if (!c.files.empty()) {
            EXPECT_EQ(test::readFile(dir / c.files[0]).rfind(c.opening, 0), 0u);
        }
    }
    std::set<std::string> found;
    for (const auto& entry : fs::directory_iterator(dir))
        found.insert(entry.path().filename().string());
    EXPECT_EQ(found, expected);  // and no temporary left
    EXPECT_EQ(occurrences(test::readFile(dir / "g.pdf"), "/Type /Page\n"), 3u);
}

}  // namespace
}  // namespace benchcap::cli
