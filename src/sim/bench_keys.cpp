#include "sim/bench_keys.h"

#include <sstream>

namespace benchcap::sim {
namespace {

std::string rangeText(double lo, double hi) {
    std::ostringstream text;
    text << "must lie in " << lo << ".." << hi;
    return text.str();
}

}  // namespace

std::function<std::string(const YAML::Node&)> intRange(long long lo, long long hi) {
    return [lo, hi](const YAML::Node& n) {
        const long long v = n.as<long long>();
        return v >= lo && v <= hi ? std::string()
                                  : "must lie in " + std::to_string(lo) + ".." + std::to_string(hi);
    };
}

std::function<std::string(const YAML::Node&)> numberRange(double lo, double hi) {
    return [lo, hi](const YAML::Node& n) {
        const double v = n.as<double>();
        return v >= lo && v <= hi ? std::string() : rangeText(lo, hi);
    };
}

}  // namespace benchcap::sim
