#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace benchcap::test {

// Folder of the sample files kept in the repository (tests/data): always there.
std::filesystem::path testDataDir();
// The larger collection of real-world samples beside the repository
// (../shared/testdata), when it is there. Tests use it in addition to testDataDir();
// a test that needs one of its files skips without it.
std::optional<std::filesystem::path> sharedTestDataDir();
// Root of the source tree (for corpora and fixtures kept in the repository).
std::filesystem::path sourceDir();
// A fresh, empty temporary folder, removed again when the test program ends.
std::filesystem::path makeTempDir(const std::string& hint);
// Whole file as bytes.
std::string readFile(const std::filesystem::path& path);
// Names of the files in a folder, sorted, without `except` (to see that nothing
// half-written was left behind).
std::vector<std::string> filesIn(const std::filesystem::path& dir, const std::string& except = {});
// Milliseconds since `start`.
inline int64_t millisSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

}  // namespace benchcap::test
