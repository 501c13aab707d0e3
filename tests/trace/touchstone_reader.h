#pragma once

// A strict Touchstone reader for the tests, from the format's public definition (versions
// 1.1 and 2.0, one and two ports, "# HZ S RI R 50"): whatever a simulator could stumble
// over is an error here.

#include <algorithm>
#include <charconv>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "base/result.h"

namespace benchcap::test {

struct TouchstoneFile {
    bool version2 = false;
    std::vector<double> frequencies;  // in Hz
    // Per frequency: real and imaginary part of S11 (, S12, S21, S22), whatever the file's order.
    std::vector<std::vector<double>> values;
};

// `ports`: what the file's extension says (.s1p: 1, .s2p: 2).
inline Result<TouchstoneFile> ReadTouchstone(const std::string& text, int ports) {
    TouchstoneFile file;
    std::vector<std::string> lines;  // without comments and blank lines
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        line.erase(std::min(line.find('!'), line.size()));
        if (line.find_first_not_of(" \t\r") != std::string::npos)
            lines.push_back(line);
    }
    std::size_t at = 0;
    // The value of keyword `name` on the next line, or "" when that line is no such keyword.
    const auto keyword = [&](const std::string& name) {
        return at < lines.size() && lines[at].rfind(name + " ", 0) == 0
                   ? lines[at++].substr(name.size() + 1)
                   : std::string();
    };
    file.version2 = keyword("[Version]") == "2.0";
    std::istringstream option(at < lines.size() ? lines[at++] : "");
    std::string words;
    for (std::string w; option >> w;)
        words += w + " ";
    if (words != "# HZ S RI R 50 ")
        return fail("the first line is not the option line # HZ S RI R 50 but " + words);
    bool order21_12 = true;  // version 1.1: S11 S21 S12 S22
    std::size_t count = 0;
    if (file.version2) {
        if (keyword("[Number of Ports]") != std::to_string(ports))
            return fail("[Number of Ports] missing or not " + std::to_string(ports));
        const std::string order = ports == 2 ? keyword("[Two-Port Data Order]") : "";
        if (ports == 2 && order != "12_21" && order != "21_12")
            return fail("[Two-Port Data Order] missing or not 12_21 or 21_12");
        order21_12 = order == "21_12";
        count = std::strtoul(keyword("[Number of Frequencies]").c_str(), nullptr, 10);
        if (count == 0 || at >= lines.size() || lines[at++] != "[Network Data]" ||
            lines.back() != "[End]")
            return fail("[Number of Frequencies], [Network Data] or [End] missing");
        lines.pop_back();
    }
    // Version 1.1 has one frequency a line (up to two ports), 2.0 may wrap lines.
    const std::size_t per = 1 + 2 * static_cast<std::size_t>(ports * ports);
    std::vector<double> numbers;
    for (; at < lines.size(); ++at) {
        std::istringstream line(lines[at]);
        const std::size_t before = numbers.size();
        for (std::string w; line >> w;) {
            double x = 0;
            const auto [end, ec] = std::from_chars(w.data(), w.data() + w.size(), x);
            if (ec != std::errc() || end != w.data() + w.size() || !std::isfinite(x))
                return fail("not a number: " + w);
            numbers.push_back(x);
        }
        if (!file.version2 && numbers.size() - before != per)
            return fail("not " + std::to_string(per) + " numbers: " + lines[at]);
    }
    if (numbers.empty() || numbers.size() % per != 0 ||
        (file.version2 && numbers.size() != count * per))
        return fail("the numbers do not fill the frequencies");
    for (auto x = numbers.begin(); x != numbers.end(); x += static_cast<long>(per)) {
        if (!file.frequencies.empty() && !(*x > file.frequencies.back()))
            return fail("the frequencies do not ascend at " + std::to_string(*x));
        file.frequencies.push_back(*x);
        std::vector<double>& v = file.values.emplace_back(x + 1, x + static_cast<long>(per));
        if (ports == 2 && order21_12)
            std::swap_ranges(v.begin() + 2, v.begin() + 4, v.begin() + 4);
    }
    return file;
}

}  // namespace benchcap::test
