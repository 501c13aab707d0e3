#pragma once

#include <filesystem>
#include <optional>
#include <string>

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

}  // namespace benchcap::test
