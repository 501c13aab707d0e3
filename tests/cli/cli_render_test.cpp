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
#include <map>
#include <set>
#include <sstream>

#include "cli/cli.h"
#include "cli_runner.h"
#include "hardcopy/picture/wmf_writer.h"
#include "support/metafile_samples.h"
#include "support/table_file.h"
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
// bytes, every page, an output that is the input under any name (refused, the input kept),
// and one message naming a file once; nothing else left in the folder.
TEST(CliRender, OneRunPerBehaviour) {
    const fs::path dir = test::makeTempDir("render");
    const std::string whole = screen();
    QImage red(8, 8, QImage::Format_RGB32);
    red.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(red.save(&buffer, "PNG"));
    std::string png(bytes.constData(), static_cast<size_t>(bytes.size()));
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
        writeFile(dir / name, content);
        expected.insert(name);
    }
    fs::create_symlink("in.png", dir / "link.png");
    for (const auto& c : test::readTable("cli/render.tsv")) {
        SCOPED_TRACE(c[0]);
        std::vector<std::string> args = {"render"};
        std::istringstream words(c[0]);
        for (std::string a; words >> a;)
            args.push_back(a.find('.') != std::string::npos ? (dir / a).string() : a);
        const CliRun r = run(args);
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
    std::set<std::string> found;
    for (const auto& entry : fs::directory_iterator(dir))
        found.insert(entry.path().filename().string());
    EXPECT_EQ(found, expected);  // and no temporary left
    for (const auto& [name, content] : inputs)
        EXPECT_EQ(test::readFile(dir / name), content) << name;
    EXPECT_EQ(occurrences(test::readFile(dir / "g.pdf"), "/Type /Page\n"), 3u);
}

}  // namespace
}  // namespace benchcap::cli
