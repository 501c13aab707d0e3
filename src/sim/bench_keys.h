#pragma once

// The rules a bench file's keys follow (types, ranges, nested maps), apart from the kinds
// that use them, so each instrument module names its keys without knowing the others.

#include <yaml-cpp/yaml.h>

#include <functional>
#include <string>
#include <vector>

namespace benchcap::sim {

// Type of a bench-file value, for the check made when the file is loaded.
enum class KeyType { Int, Number, Bool, Text, IntList, TextList, Map };

// One key that an instrument's mapping may hold. `check` (optional) tells what is wrong with
// a value of the right type ("must lie in 1..30"), or returns an empty text.
struct KeySpec {
    std::string name;
    KeyType type;
    std::function<std::string(const YAML::Node&)> check;
    std::vector<KeySpec> children;  // for KeyType::Map: the keys the map may hold
};

// Checks of a whole number or a number against its key's range ("must lie in 1..30"). The
// range is checked on the widest type, so a value too large for the key's own type is
// refused with the key's name instead of failing when the instrument is built.
std::function<std::string(const YAML::Node&)> intRange(long long lo, long long hi);
std::function<std::string(const YAML::Node&)> numberRange(double lo, double hi);

}  // namespace benchcap::sim
