#pragma once

// Expected results kept as text under tests/data: one case a line, fields separated by
// TABs; blank lines and lines starting with '#' are skipped. In a field "\n", "\t", "\\"
// and "\xHH" stand for the byte, so any byte string fits on one line.

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "support/test_paths.h"

namespace benchcap::test {

inline std::string unescapeField(const std::string& field) {
    std::string bytes;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '\\' || i + 1 == field.size()) {
            bytes += field[i];
            continue;
        }
        const char c = field[++i];
        if (c == 'x' && i + 2 < field.size()) {
            bytes += static_cast<char>(std::stoi(field.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            bytes += c == 'n' ? '\n' : c == 't' ? '\t' : c;
        }
    }
    return bytes;
}

// The rows of `name` (a path under tests/data), each field unescaped.
inline std::vector<std::vector<std::string>> readTable(const std::string& name) {
    std::ifstream in(testDataDir() / name);
    EXPECT_TRUE(in) << "cannot read " << (testDataDir() / name);
    std::vector<std::vector<std::string>> rows;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        std::vector<std::string> row;
        for (std::size_t at = 0;;) {
            const std::size_t tab = line.find('\t', at);
            row.push_back(unescapeField(line.substr(at, tab - at)));
            if (tab == std::string::npos)
                break;
            at = tab + 1;
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

}  // namespace benchcap::test
