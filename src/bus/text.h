#pragma once

#include <string>
#include <string_view>

namespace benchcap::bus {

// The text without its leading and trailing spaces (only spaces: a tab or line feed that
// an instrument sent stays part of its answer).
inline std::string_view TrimBlanks(std::string_view text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// The text as one line of a comment: every control character (a CR or LF an instrument
// sent in its identity) becomes a space, so that it cannot start a line of its own.
inline std::string OneLine(std::string text) {
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = ' ';
    }
    return text;
}

}  // namespace benchcap::bus
