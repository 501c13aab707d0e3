#include "sim/bench_config.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>

#include "sim/instrument_kinds.h"

namespace benchcap::sim {
namespace {

// A bench file is a page of text; anything much larger is the wrong file.
constexpr std::streamsize kMaxBenchFileBytes = std::streamsize{1} << 20;

std::string where(const std::string& source, const YAML::Node& node) {
    const YAML::Mark mark = node.Mark();
    if (mark.line < 0)
        return source;
    return source + ":" + std::to_string(mark.line + 1);
}

// A fault of the bench file, named with its line.
Error fault(const std::string& source, const YAML::Node& node, const std::string& what) {
    return benchcap::fail(ErrorKind::BadData, where(source, node) + ": " + what);
}

bool isInt(const YAML::Node& n) {
    if (!n.IsScalar())
        return false;
    try {
        (void)n.as<long long>();
        return true;
    } catch (const YAML::Exception&) {
        return false;
    }
}

bool isNumber(const YAML::Node& n) {
    if (!n.IsScalar())
        return false;
    try {
        // .nan and .inf are no measure of anything on a bench.
        return std::isfinite(n.as<double>());
    } catch (const YAML::Exception&) {
        return false;
    }
}

bool isBool(const YAML::Node& n) {
    if (!n.IsScalar())
        return false;
    try {
        (void)n.as<bool>();
        return true;
    } catch (const YAML::Exception&) {
        return false;
    }
}

const char* typeName(KeyType t) {
    switch (t) {
        case KeyType::Int:
            return "a whole number";
        case KeyType::Number:
            return "a number";
        case KeyType::Bool:
            return "true or false";
        case KeyType::Text:
            return "a text";
        case KeyType::IntList:
            return "a list of whole numbers";
        case KeyType::TextList:
            return "a list of texts";
        case KeyType::Map:
            return "a mapping";
    }
    return "?";
}

bool hasType(const YAML::Node& n, KeyType t) {
    switch (t) {
        case KeyType::Int:
            return isInt(n);
        case KeyType::Number:
            return isNumber(n);
        case KeyType::Bool:
            return isBool(n);
        case KeyType::Text:
            return n.IsScalar();
        case KeyType::IntList:
            if (!n.IsSequence())
                return false;
            for (const auto& e : n) {
                if (!isInt(e))
                    return false;
            }
            return true;
        case KeyType::TextList:
            if (!n.IsSequence())
                return false;
            for (const auto& e : n) {
                if (!e.IsScalar())
                    return false;
            }
            return true;
        case KeyType::Map:
            return n.IsMap();
    }
    return false;
}

// yaml-cpp keeps both entries of a key written twice and looks up the first; the second
// would be silently ignored.
Status checkUnique(const std::string& source, const YAML::Node& map, const std::string& context) {
    std::set<std::string> seen;
    for (const auto& kv : map) {
        const std::string key = kv.first.as<std::string>();
        if (!seen.insert(key).second)
            return fault(source, kv.first, "key '" + key + "'" + context + " is given twice");
    }
    return {};
}

Status checkKeys(const std::string& source, const YAML::Node& map,
                 const std::vector<KeySpec>& specs, const std::string& context) {
    if (Status unique = checkUnique(source, map, context); !unique)
        return unique;
    for (const auto& kv : map) {
        const std::string key = kv.first.as<std::string>();
        const KeySpec* known = nullptr;
        for (const auto& s : specs) {
            if (s.name == key)
                known = &s;
        }
        if (!known)
            return fault(source, kv.first, "unknown key '" + key + "'" + context);
        if (!hasType(kv.second, known->type)) {
            return fault(source, kv.second,
                         "key '" + key + "'" + context + " must be " + typeName(known->type));
        }
        if (known->check) {
            if (std::string why = known->check(kv.second); !why.empty()) {
                return fault(source, kv.second, "key '" + key + "'" + context + " " + why);
            }
        }
        if (known->type == KeyType::Map) {
            if (Status inner = checkKeys(source, kv.second, known->children, context); !inner)
                return inner;
        }
    }
    return {};
}

// A plot file must exist when the bench is loaded (a missing one would only show in the
// capture) and must fit in memory, as the instrument sends it whole.
Status checkPlotFile(const std::string& source, const YAML::Node& value) {
    std::filesystem::path path(value.as<std::string>());
    if (path.is_relative())
        path = std::filesystem::path(source).parent_path() / path;
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (ec || !std::filesystem::is_regular_file(status))
        return fault(source, value, "key 'plot_file': '" + path.string() + "' is no readable file");
    const auto size = std::filesystem::file_size(path, ec);
    if (ec || size > kMaxPlotFileBytes) {
        return fault(source, value,
                     "key 'plot_file': '" + path.string() + "' is larger than " +
                         std::to_string(kMaxPlotFileBytes >> 20) + " MB");
    }
    return {};
}

Result<BenchConfig> parse(const YAML::Node& root, const std::string& source) {
    BenchConfig config;
    config.source = source;
    if (!root || root.IsNull())
        return config;  // an empty file: one board, no instruments
    if (!root.IsMap())
        return fault(source, root, "a bench file is a mapping with 'boards' and 'instruments'");
    if (Status unique = checkUnique(source, root, ""); !unique)
        return unique.failure();
    for (const auto& kv : root) {
        const std::string key = kv.first.as<std::string>();
        if (key == "boards") {
            if (!hasType(kv.second, KeyType::IntList)) {
                return fault(source, kv.second,
                             "key 'boards' must be a list of board indices 0..9");
            }
            config.boards.clear();
            for (const auto& b : kv.second) {
                const long long n = b.as<long long>();
                if (n < 0 || n > 9)
                    return fault(source, b, "key 'boards': board index must lie in 0..9");
                config.boards.push_back(static_cast<int>(n));
            }
        } else if (key == "clock") {
            const std::string v = kv.second.IsScalar() ? kv.second.as<std::string>() : "";
            if (v != "real" && v != "virtual") {
                return fault(source, kv.second, "key 'clock' must be 'real' or 'virtual'");
            }
            config.realTime = v == "real";
        } else if (key == "instruments") {
            if (!kv.second.IsSequence())
                return fault(source, kv.second, "key 'instruments' must be a list");
        } else {
            return fault(source, kv.first, "unknown key '" + key + "'");
        }
    }
    const int firstBoard =
        config.boards.empty() ? 0 : *std::min_element(config.boards.begin(), config.boards.end());
    std::set<std::pair<int, int>> taken;
    for (const auto& item : root["instruments"]) {
        const YAML::Node& node = item;
        if (!node.IsMap())
            return fault(source, node, "an instrument is a mapping with 'address' and 'kind'");
        if (!node["address"])
            return fault(source, node, "instrument without key 'address'");
        if (!node["kind"] || !node["kind"].IsScalar()) {
            return fault(source, node, "instrument without key 'kind'");
        }
        const std::string kind = node["kind"].as<std::string>();
        if (!isKnownKind(kind)) {
            std::string known;
            for (const auto& k : instrumentKinds())
                known += (known.empty() ? "" : ", ") + k;
            return fault(source, node["kind"],
                         "key 'kind': unknown kind '" + kind + "' (known: " + known + ")");
        }
        if (Status keys =
                checkKeys(source, node, keysForKind(kind), " (instrument of kind " + kind + ")");
            !keys)
            return keys.failure();
        InstrumentConfig ic;
        ic.address = node["address"].as<int>();
        ic.board = node["board"] ? node["board"].as<int>() : firstBoard;
        ic.kind = kind;
        ic.idn = node["idn"] ? node["idn"].as<std::string>() : std::string();
        ic.options = node["options"] ? node["options"].as<std::string>() : std::string();
        ic.node = node;
        ic.where = where(source, node);
        if (std::find(config.boards.begin(), config.boards.end(), ic.board) ==
            config.boards.end()) {
            return fault(source, node["board"] ? node["board"] : node,
                         "key 'board': board " + std::to_string(ic.board) + " is not in 'boards'");
        }
        if (node["plot_file"]) {
            if (Status plot = checkPlotFile(source, node["plot_file"]); !plot)
                return plot.failure();
        }
        if (!taken.insert({ic.board, ic.address}).second) {
            return fault(source, node["address"],
                         "key 'address': address " + std::to_string(ic.address) +
                             " is used twice on board " + std::to_string(ic.board));
        }
        config.instruments.push_back(std::move(ic));
    }
    return config;
}

}  // namespace

Result<BenchConfig> parseBenchText(const std::string& yamlText, const std::string& sourceName) {
    try {
        return parse(YAML::Load(yamlText), sourceName);
    } catch (const YAML::Exception& e) {
        const std::string line = e.mark.line >= 0 ? ":" + std::to_string(e.mark.line + 1) : "";
        return benchcap::fail(ErrorKind::BadData, sourceName + line + ": " + e.msg);
    }
}

Result<BenchConfig> loadBenchFile(const std::string& path) {
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (!ec && std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
        // A folder or a device such as /dev/zero would never end or give no text.
        return benchcap::fail(ErrorKind::File, path + ": the bench file is no regular file");
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return benchcap::fail(ErrorKind::File, path + ": cannot open the bench file");
    }
    std::string text(static_cast<size_t>(kMaxBenchFileBytes) + 1, '\0');
    in.read(text.data(), kMaxBenchFileBytes + 1);
    text.resize(static_cast<size_t>(in.gcount()));
    if (static_cast<std::streamsize>(text.size()) > kMaxBenchFileBytes) {
        return benchcap::fail(ErrorKind::File, path + ": the bench file is larger than " +
                                                   std::to_string(kMaxBenchFileBytes >> 20) +
                                                   " MB");
    }
    return parseBenchText(text, path);
}

const char* builtinBenchYaml() {
    return R"(# The built-in bench: one instrument of every kind.
boards: [0]
clock: real
instruments:
  - address: 3
    kind: other-maker
    idn: "Acme Instruments,AI-2000,12345,1.0"
  - address: 7
    kind: spectrum-analyzer
    idn: "Veltronik,KLT-3,100871/012,1.70"
    options: "B4"
  - address: 9
    kind: plotter-only
    idn: "Veltronik,KLD4,100455/007,1.02"
  - address: 12
    kind: spectrum-analyzer
    idn: "Veltronik,KLR-20,100112/004,3.10"
    options: "B4,B7"
    traces_shown: [1, 2, 3]
  - address: 16
    kind: network-analyzer
    idn: "Veltronik,NQD8,100321/002,1.45"
    options: "B21"
  - address: 20
    kind: vector-analyzer
    idn: "Veltronik,KLVZ26,100234/003,2.10"
    options: "B4,K7"
    span_hz: 0
    sweep_time_s: 0
    traces_shown: [1, 2]
    vector_mode: {symbols: 100, points_per_symbol: 4, format: QAM, states: 16, layout: pairs}
  - address: 25
    kind: silent
  - address: 28
    kind: signal-generator
    idn: "Veltronik,GWPZ10,100567/001,5.10"
    options: "B1"
)";
}

BenchConfig builtinBench() {
    Result<BenchConfig> result = parseBenchText(builtinBenchYaml(), "built-in bench");
    // The built-in text is part of the program; a fault in it is a programming error.
    if (!result)
        throw std::logic_error(result.error());
    return std::move(result.value());
}

}  // namespace benchcap::sim
