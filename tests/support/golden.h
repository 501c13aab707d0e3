#pragma once

// Golden files: a whole result compared in one line instead of detail by detail.
//
// A golden file (under tests/data) holds cases: a line "> INPUT" gives the input (">"
// alone an empty one), the lines after it up to the next case are the expected output.
// Lines starting with "#" are comments and blank lines separate cases; both are kept. In
// the input, "\xNN" is the byte NN and "\\" a backslash, so control bytes, NULs and a
// trailing blank ("\x20") can be written.
//
// With BENCHCAP_UPDATE_GOLDEN=1 in the environment the file is written anew from what
// the code gives now (inputs and comments kept): review the difference before committing.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "support/test_paths.h"

namespace benchcap::test {

inline std::string unescapeGolden(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '\\') {
            out += '\\';
            ++i;
        } else if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x') {
            out += static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

// Runs `run` on the input of every case of `file` (a path under tests/data) and expects
// its output; each output line ends with a line feed.
inline void checkGolden(const std::string& file,
                        const std::function<std::string(const std::string&)>& run) {
    const std::filesystem::path path = testDataDir() / file;
    std::ifstream in(path, std::ios::binary);
    ASSERT_TRUE(in) << "golden file missing: " << path;
    std::string line, rewritten, input, expected;
    int cases = 0, at = 0, number = 0;
    const auto finish = [&] {
        if (at == 0)
            return;
        const std::string got = run(unescapeGolden(input));
        EXPECT_EQ(got, expected) << path.string() << ":" << at << ": > " << input;
        rewritten += got;
        ++cases;
        at = 0;
    };
    while (std::getline(in, line)) {
        ++number;
        if (line.starts_with("> ") || line == ">") {
            finish();
            input = line.substr(std::min<size_t>(2, line.size()));
            expected.clear();
            at = number;
            rewritten += line + "\n";
        } else if (line.empty() || line.starts_with("#")) {
            finish();
            rewritten += line + "\n";
        } else if (at != 0) {
            expected += line + "\n";
        }
    }
    finish();
    EXPECT_GT(cases, 0) << path;
    if (const char* update = std::getenv("BENCHCAP_UPDATE_GOLDEN"); update && *update == '1')
        std::ofstream(path, std::ios::binary) << rewritten;
}

}  // namespace benchcap::test
