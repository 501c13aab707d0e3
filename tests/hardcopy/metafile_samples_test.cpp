// Real-world metafiles and the synthetic damaged ones: every sample plays, and damage
// never crashes, hangs or loses what came before it.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "hardcopy/picture/picture.h"
#include "picture_test_util.h"
#include "support/test_paths.h"

namespace benchcap::picture {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> wmfFiles(const fs::path& dir) {
    std::vector<fs::path> files;
    if (!fs::is_directory(dir))
        return files;
    for (const auto& entry : fs::directory_iterator(dir)) {
        if (entry.is_regular_file() && entry.path().extension() == ".wmf")
            files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

TEST(MetafileSamples, EverySampleRendersAndIsNotBlank) {
    const auto files = wmfFiles(benchcap::test::testDataDir() / "wmf");
    ASSERT_GE(files.size(), 10u) << "sample metafiles missing in " << benchcap::test::testDataDir();
    for (const auto& file : files) {
        SCOPED_TRACE(file.filename().string());
        auto image = renderPicture(file, QSize(1024, 768));
        ASSERT_TRUE(image.ok()) << image.error();
        EXPECT_EQ(image->size(), QSize(1024, 768));
        EXPECT_GT(test::countNot(image.value(), qRgb(255, 255, 255)), 200);
    }
}

TEST(MetafileSamples, NaturalSizesFollowHeaders) {
    const fs::path dir = benchcap::test::testDataDir() / "wmf";
    // Placeable: bounding box 94 x 94 at 96 units per inch.
    auto grid = loadPicture(dir / "dtformats_grid.wmf");
    ASSERT_TRUE(grid.ok()) << grid.error();
    EXPECT_EQ(grid->naturalSize(), QSize(94, 94));
    // Placeable: 27940 x 21590 units at 2540 per inch = 11 x 8.5 inch.
    auto letter = loadPicture(dir / "libwmf_fulltest.wmf");
    ASSERT_TRUE(letter.ok());
    EXPECT_EQ(letter->naturalSize(), QSize(1056, 816));
    // Not placeable and no window: the extent of what it draws.
    auto text = loadPicture(dir / "libwmf_text.wmf");
    ASSERT_TRUE(text.ok());
    EXPECT_GT(text->naturalSize().width(), 100);
}

TEST(MetafileSamples, DamagedFilesNeverCrash) {
    const auto files = wmfFiles(benchcap::test::testDataDir() / "wmf" / "broken");
    ASSERT_GE(files.size(), 12u);
    // These hold a usable picture despite their damage: the red polyline must show.
    const std::set<std::string> drawable{
        "valid-minimal.wmf",         "bad-placeable-checksum.wmf", "zero-window-extent.wmf",
        "header-size-too-large.wmf", "no-eof-record.wmf",          "polyline-count-overflow.wmf",
        "record-size-zero.wmf",      "record-size-overflow.wmf",   "stretchdib-bad-bitcount.wmf"};
    for (const auto& file : files) {
        const std::string name = file.filename().string();
        SCOPED_TRACE(name);
        auto image = renderPicture(file, QSize(1024, 768));
        if (drawable.count(name)) {
            ASSERT_TRUE(image.ok()) << image.error();
            EXPECT_GT(test::countNot(image.value(), qRgb(255, 255, 255)), 200);
        }
    }
}

TEST(MetafileSamples, LeftoversAreRefusedAndDamageIsReportedAsWarnings) {
    const fs::path dir = benchcap::test::testDataDir() / "wmf" / "broken";
    // Leftovers of a failed transfer give clear errors.
    for (auto [file, word] :
         {std::pair{"empty.wmf", "file is empty"}, std::pair{"all-zero-64.wmf", "zero bytes"}}) {
        auto image = renderPicture(dir / file, QSize(64, 64));
        ASSERT_FALSE(image.ok()) << file;
        EXPECT_NE(image.error().find(word), std::string::npos) << image.error();
    }
    for (auto [file, word] : {std::pair{"truncated-mid-record.wmf", "truncated"},
                              std::pair{"bad-placeable-checksum.wmf", "checksum"}}) {
        PlayResult result;
        test::play(benchcap::test::readFile(dir / file), QSize(64, 64), &result);
        ASSERT_TRUE(result.ok) << file;
        ASSERT_FALSE(result.warnings.empty()) << file;
        EXPECT_NE(result.warnings.front().find(word), std::string::npos) << file;
    }
}

}  // namespace
}  // namespace benchcap::picture
