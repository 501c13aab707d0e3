// benchcap-cli trace --plot: the picture's format and size as asked, beside the text;
// what it draws is pinned by the trace plot's own tests.
#include <QImage>
#include <QSvgRenderer>

#include <gtest/gtest.h>

#include <filesystem>

#include "cli/cli.h"
#include "cli_runner.h"
#include "support/test_paths.h"

namespace benchcap::cli {
namespace {

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

}  // namespace
}  // namespace benchcap::cli
