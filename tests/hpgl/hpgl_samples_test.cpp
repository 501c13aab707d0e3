// Real plotter files: those kept in the repository (tests/hpgl/data) and, when the
// shared sample folder sits beside the source tree, those too. Every one must give a
// plausible picture: something drawn, inside the picture's extent, on the image.
#include <QImage>
#include <algorithm>
#include <filesystem>

#include "hpgl_test_util.h"
#include "support/test_paths.h"

namespace benchcap::hpgl::test {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> samplesIn(const fs::path& dir) {
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec)) {
        const std::string ext = entry.path().extension().string();
        if (entry.is_regular_file() && (ext == ".hp" || ext == ".hpgl" || ext == ".plt"))
            files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

void checkPlausible(const fs::path& file) {
    SCOPED_TRACE(file.filename().string());
    const std::string bytes = benchcap::test::readFile(file);
    EXPECT_TRUE(looksLikeHpgl(bytes));
    const Result<Plot> plot = parseHpgl(bytes);
    ASSERT_TRUE(plot.ok()) << plot.error();
    ASSERT_FALSE(plot->pages.empty());
    // Our hand-written shapes parse without a single complaint, and a trailing NUL is no
    // damage.
    const std::string name = file.filename().string();
    if (name.starts_with("own_") || name == "tgoodhew_hp8563e-test.plt") {
        EXPECT_TRUE(plot->warnings.empty()) << plot->warnings.front();
    }
    const Page& page = plot->pages[0];
    EXPECT_FALSE(page.items.empty());
    ASSERT_FALSE(page.drawn.isNull());
    EXPECT_TRUE(page.extent.contains(page.drawn));
    // The drawing fills a fair part of its picture (no stray point far away).
    EXPECT_GT(page.drawn.width() * page.drawn.height(),
              0.02 * page.extent.width() * page.extent.height());

    const QSize size(1024, 768);
    std::vector<std::string> warnings;
    const Result<QImage> image = renderPlot(*plot, size, &warnings, {false, 0});
    ASSERT_TRUE(image.ok()) << image.error();
    const QRectF ink =
        fitTransform(page.extent, QRectF(QPointF(0, 0), QSizeF(size))).mapRect(page.drawn);
    EXPECT_TRUE(QRectF(0, 0, 1024, 768).contains(ink.adjusted(1, 1, -1, -1)));
    const int drawn = notWhite(*image, image->rect());
    EXPECT_GT(drawn, 2000);
    EXPECT_LT(drawn, 1024 * 768 / 2);
    if (const char* dir = std::getenv("BENCHCAP_HPGL_PNG_DIR"))
        image->save(QString::fromStdString((fs::path(dir) / file.filename()).string() + ".png"));
}

TEST(HpglSamples, InTreeSamplesArePlausible) {
    const std::vector<fs::path> files = samplesIn(benchcap::test::sourceDir() / "tests/hpgl/data");
    ASSERT_GE(files.size(), 9u);
    for (const fs::path& f : files)
        checkPlausible(f);
}

TEST(HpglSamples, SharedSamplesArePlausible) {
    const auto shared = benchcap::test::sharedTestDataDir();
    if (!shared)
        GTEST_SKIP() << "no shared sample collection beside the source tree";
    const std::vector<fs::path> files = samplesIn(*shared / "hpgl");
    ASSERT_FALSE(files.empty()) << "no HP-GL samples in " << *shared;
    for (const fs::path& f : files)
        checkPlausible(f);
}

// Slashed zeros: "0" BS "/" overstrike in the analyzer's annotation.
TEST(HpglSamples, SlashedZerosAreOverstruck) {
    const Plot plot = parsed(benchcap::test::readFile(benchcap::test::sourceDir() /
                                                      "tests/hpgl/data/vk2bea_HP8595E-FM.hpgl"));
    const auto& texts = plot.pages.at(0).texts;
    bool overstrike = false;
    for (size_t i = 1; i < texts.size(); ++i)
        overstrike = overstrike ||
                     (texts[i].chars.front() == '/' &&
                      texts[i].origin.x() < texts[i - 1].origin.x() +
                                                texts[i - 1].advance * texts[i - 1].chars.size());
    EXPECT_TRUE(overstrike);
    EXPECT_TRUE(plot.warnings.empty()) << plot.warnings.front();
}

}  // namespace
}  // namespace benchcap::hpgl::test
