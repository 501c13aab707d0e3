#pragma once

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

}  // namespace benchcap::bus
