#pragma once

#include <filesystem>
#include <string>

namespace benchcap::test {

// Folder of the real-world sample files (WMF, HPGL, block cases).
std::filesystem::path testDataDir();
// Root of the source tree (for corpora and fixtures kept in the repository).
std::filesystem::path sourceDir();
// A fresh, empty temporary folder, removed again when the test program ends.
std::filesystem::path makeTempDir(const std::string& hint);
// Whole file as bytes.
std::string readFile(const std::filesystem::path& path);

}  // namespace benchcap::test
