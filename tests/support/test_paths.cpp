#include "support/test_paths.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace benchcap::test {
namespace {

struct TempDirs {
    std::vector<std::filesystem::path> dirs;
    ~TempDirs() {
        std::error_code ec;
        for (const auto& d : dirs)
            std::filesystem::remove_all(d, ec);
    }
};

TempDirs& tempDirs() {
    static TempDirs dirs;
    return dirs;
}

}  // namespace

std::filesystem::path testDataDir() {
    if (const char* env = std::getenv("BENCHCAP_TESTDATA"); env && *env)
        return env;
    return BENCHCAP_TESTDATA_DEFAULT;
}

std::optional<std::filesystem::path> sharedTestDataDir() {
    const char* env = std::getenv("BENCHCAP_SHARED_TESTDATA");
    std::filesystem::path dir = env && *env ? env : BENCHCAP_SHARED_TESTDATA_DEFAULT;
    std::error_code ec;
    if (!std::filesystem::is_directory(dir, ec))
        return std::nullopt;
    return dir;
}

std::filesystem::path sourceDir() {
    if (const char* env = std::getenv("BENCHCAP_SOURCE_DIR"); env && *env)
        return env;
    return BENCHCAP_SOURCE_DIR_DEFAULT;
}

std::filesystem::path makeTempDir(const std::string& hint) {
    std::random_device rd;
    auto base = std::filesystem::temp_directory_path();
    for (int i = 0; i < 100; ++i) {
        auto dir = base / ("benchcap-" + hint + "-" + std::to_string(rd()));
        if (std::filesystem::create_directory(dir)) {
            tempDirs().dirs.push_back(dir);
            return dir;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::vector<std::string> filesIn(const std::filesystem::path& dir, const std::string& except) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        if (e.path().filename() != except)
            names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace benchcap::test
