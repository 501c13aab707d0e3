// Sample metafiles: the ones kept in the repository, the ones our writer makes in their
// shapes, the real-world collection beside the repository when it is there, the
// synthetic damaged ones, and files made to cost the player much work. Every sample
// plays; damage never crashes, hangs or loses what came before it; work is bounded.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "hardcopy/picture/picture.h"
#include "picture_test_util.h"
#include "support/golden.h"
#include "support/metafile_samples.h"
#include "support/test_paths.h"

namespace benchcap::picture {
namespace {

// Sample metafiles: the ones kept in the repository, the ones our writer makes in their
// shapes, the real-world collection beside the repository when it is there, the
// synthetic damaged ones, and files made to cost the player much work. Every sample
// plays; damage never crashes, hangs or loses what came before it; work is bounded.
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

void expectDrawn(const Result<QImage>& image) {
    ASSERT_TRUE(image.ok()) << image.error();
    EXPECT_EQ(image->size(), QSize(1024, 768));
    EXPECT_GT(test::countNot(image.value(), qRgb(255, 255, 255)), 200);
}

TEST(MetafileSamples, EverySampleRendersAndIsNotBlank) {
    const auto files = wmfFiles(benchcap::test::testDataDir() / "wmf");
    ASSERT_GE(files.size(), 3u) << "sample metafiles missing in " << benchcap::test::testDataDir();
    for (const auto& file : files) {
        SCOPED_TRACE(file.filename().string());
        expectDrawn(renderPicture(file, QSize(1024, 768)));
    }
    const auto made = test::writerSamples();
    ASSERT_GE(files.size() + made.size(), 10u);
    for (const auto& sample : made) {
        SCOPED_TRACE(sample.name);
        std::vector<std::string> warnings;
        expectDrawn(renderPictureBytes(sample.bytes, QSize(1024, 768), &warnings));
        EXPECT_TRUE(warnings.empty()) << warnings.front();
    }
}

// "FILE" (under tests/data) or "sample NAME": the picture as loaded (its format, natural
// size and pages) and rendered (the warnings), or why it is refused.
std::string Loaded(const std::string& input) {
    const std::map<std::string, std::string> samples = {
        {"letter-page", test::letterPageSample()},  // 27940 x 21590 at 2540 per inch
        {"wide", wmf::Writer(32000, 16000, 10).finish()},
        {"huge", test::hugeNaturalSize()}};
    const auto picture = input.starts_with("sample ")
                             ? pictureFromBytes(samples.at(input.substr(7)))
                             : loadPicture(benchcap::test::testDataDir() / input);
    if (!picture)
        return "refused: " + picture.error().substr(picture.error().find(": ") + 2) + "\n";
    static const char* kFormats[] = {"bitmap", "metafile", "plot"};
    std::vector<std::string> warnings;
    EXPECT_TRUE(picture->render(QSize(64, 64), &warnings).ok());
    std::string out = std::string(kFormats[static_cast<int>(picture->format())]) + " " +
                      std::to_string(picture->naturalSize().width()) + "x" +
                      std::to_string(picture->naturalSize().height()) + ", " +
                      std::to_string(picture->pageCount()) + " pages\n";
    for (const std::string& w : warnings)
        out += "warning: " + w + "\n";
    return out;
}

TEST(MetafileSamples, NaturalSizesWarningsAndRefusals) {
    benchcap::test::checkGolden("golden/picture-loading.txt", Loaded);
    // Not placeable and no window: the extent of what it draws (text, so font-dependent).
    EXPECT_GT(pictureFromBytes(test::textOnlySample())->naturalSize().width(), 100);
}

// Files that ask for far more drawing than any picture needs stop at the work limit
// with one warning; what they drew before stays drawn. Real and writer-made samples
// stay far below the limit, so they are drawn in full.
TEST(MetafileSamples, WorkIsBoundedAndOrdinaryPicturesStayFarBelowTheLimit) {
    const double limit = kWorkPerPixel * 1024 * 768;
    auto costly = test::costlySamples();
    for (auto& sample : test::costlyMegabyteSamples())
        costly.push_back(std::move(sample));
    for (const auto& sample : costly) {
        SCOPED_TRACE(sample.name);
        PlayResult result;
        test::play(sample.bytes, QSize(1024, 768), &result);
        ASSERT_TRUE(result.status.ok());
        EXPECT_LE(result.work, limit);
        if (sample.name != "huge-natural-size.wmf") {
            ASSERT_EQ(result.warnings.size(), 1u);
            EXPECT_NE(result.warnings.front().find("too complex"), std::string::npos)
                << result.warnings.front();
        }
    }
    for (const auto& sample : test::writerSamples()) {
        SCOPED_TRACE(sample.name);
        PlayResult result;
        test::play(sample.bytes, QSize(1024, 768), &result);
        EXPECT_LT(result.work, limit / 10);
    }
    // A bitmap whose header claims 0x7FFFFFFF columns is refused at once and costs nothing.
    // Damaged files never crash; these hold a usable picture despite their damage: the red
    // polyline must show.
    const std::set<std::string> drawable{
        "valid-minimal.wmf",         "bad-placeable-checksum.wmf", "zero-window-extent.wmf",
        "header-size-too-large.wmf", "no-eof-record.wmf",          "polyline-count-overflow.wmf",
        "record-size-zero.wmf",      "record-size-overflow.wmf",   "stretchdib-bad-bitcount.wmf"};
    auto files = wmfFiles(benchcap::test::testDataDir() / "wmf");
    const auto broken = wmfFiles(benchcap::test::testDataDir() / "wmf" / "broken");
    ASSERT_GE(broken.size(), 12u);
    files.insert(files.end(), broken.begin(), broken.end());
    for (const auto& file : files) {
        SCOPED_TRACE(file.filename().string());
        PlayResult result;
        const QImage image = test::play(benchcap::test::readFile(file), QSize(1024, 768), &result);
        EXPECT_LT(result.work, limit / 10);
        if (drawable.count(file.filename().string())) {
            EXPECT_GT(test::countNot(image, qRgb(255, 255, 255)), 200);
        }
        for (const auto& warning : result.warnings)
            EXPECT_EQ(warning.find("too complex"), std::string::npos) << warning;
    }
}

// Stopping at the limit keeps the fills drawn before it.
TEST(MetafileSamples, WorkLimitKeepsWhatWasDrawnBefore) {
    PlayResult result;
    const QImage image = test::play(test::fullPictureRectangles(2000), QSize(1024, 768), &result);
    ASSERT_EQ(result.warnings.size(), 1u);
    EXPECT_GT(result.records, 10u);
    EXPECT_LT(result.records, 4000u);
    EXPECT_EQ(test::countNot(image, qRgb(255, 255, 255)), 1024 * 768);
}

}  // namespace
}  // namespace benchcap::picture
