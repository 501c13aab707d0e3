// Arbitrary bytes as a profile file: reading must not fail, an unedited document must give
// back its bytes, and one write must be readable and leave other keys alone.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "scanner/ini_file.h"

using benchcap::scanner::IniDocument;

namespace {

// A usable name from a few input bytes: letters, digits and '_' only.
std::string nameFrom(std::string_view bytes, const char* fallback) {
    std::string name;
    for (char c : bytes.substr(0, 12)) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '_') {
            name += c;
        }
    }
    return name.empty() ? fallback : name;
}

std::string lower(std::string s) {
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return s;
}

void check(bool condition) {
    if (!condition)
        __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    IniDocument doc(bytes);
    check(doc.bytes() == bytes);

    const std::string section = nameFrom(bytes, "S");
    const std::string key = nameFrom(bytes.substr(bytes.size() / 2), "K");
    const auto before = doc.get(section, key);
    check(!before || before->size() <= benchcap::scanner::kIniValueMax);
    const auto other = doc.get("LAB1_BOARD", "Timeout_Value");
    (void)doc.read("LAB1_BOARD", "Timeout_Value", 0);

    check(doc.set(section, key, "fuzz value").ok());
    check(doc.get(section, key) == "fuzz value");
    const std::string written = doc.bytes();
    const IniDocument reread(written);
    check(reread.bytes() == written);
    check(reread.get(section, key) == "fuzz value");
    if (lower(section) != "lab1_board" || lower(key) != "timeout_value") {
        check(reread.get("LAB1_BOARD", "Timeout_Value") == other);
    }
    // Only the one line changes or up to two lines are added.
    check(written.size() <= bytes.size() + section.size() + key.size() + 32);
    return 0;
}
