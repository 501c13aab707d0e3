#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bus/clock.h"
#include "sim/instrument_modules.h"

// Trace data of the simulated analyzers and network analyzers: the commands a trace
// read sends, answered from procedurally made but plausible data (a noise floor with a
// few signals, a burst in zero span, constellations in vector-analysis mode, a filter
// and a reflection in the network analyzer). Faults come from the common `faults` keys,
// applied by respondBlock.

namespace benchcap::sim {
namespace {

constexpr double kPi = 3.14159265358979323846;

// Spectrum and vector analyzers (the network analyzer has traces of its own).
bool isSpectrumOrVectorAnalyzer(const std::string& kind) {
    return kind == "spectrum-analyzer" || kind == "vector-analyzer";
}

std::string pointLimit(const YAML::Node& n) {
    const long long v = n.as<long long>();
    return v >= 1 && v <= 50000000 ? std::string() : "must lie in 1..50000000";
}
std::string nonNegativeNumber(const YAML::Node& n) {
    return n.as<double>() >= 0 ? std::string() : "must not be negative";
}
std::string traceList(const YAML::Node& n) {
    for (const auto& e : n) {
        const long long t = e.as<long long>();
        if (t < 1 || t > 4)
            return "may only hold trace numbers 1..4";
    }
    return {};
}
std::string oneOf(const YAML::Node& n, std::initializer_list<const char*> allowed,
                  const char* list) {
    const std::string v = n.as<std::string>();
    for (const char* a : allowed) {
        if (v == a)
            return {};
    }
    return std::string("must be one of ") + list;
}

// A small deterministic generator, so every run of a bench gives the same traces.
class Noise {
  public:
    explicit Noise(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 1) {}
    double uniform() {  // [0, 1)
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return static_cast<double>(state_ >> 11) * 0x1p-53;
    }
    double gauss() {  // roughly normal, mean 0, deviation 1
        double s = 0;
        for (int i = 0; i < 4; ++i)
            s += uniform();
        return (s - 2.0) * 1.7320508;
    }
    uint32_t below(uint32_t n) { return static_cast<uint32_t>(uniform() * n); }

  private:
    uint64_t state_;
};

std::string number(double v) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, 9);
    std::string s(buf, r.ptr);
    std::replace(s.begin(), s.end(), 'e', 'E');
    return s;
}

template <class T>
T get(const YAML::Node& node, const char* key, T fallback) {
    return node && node[key] ? node[key].as<T>() : fallback;
}

struct VectorMode {
    int symbols = 100;
    int pointsPerSymbol = 4;
    std::string format = "QPS";
    int states = 4;
    std::string layout = "plain";
};

struct TraceState {
    std::string kind;
    int address = 0;
    std::string format = "ASC,0";  // what FORM last set
    // analyzers
    int points = 501;
    double centre = 1e9;
    double span = 1e8;
    double sweepTime = 0.02;
    std::vector<int> shown{1};
    bool knowsInstNsel = true;
    bool vector = false;
    double driftDbPerS = 0;  // the carriers' level moves with bench time
    VectorMode vm;
    // network analyzers
    double start = 10e6;
    double stop = 3e9;
    std::string channelFormat[5] = {"", "real", "complex", "real", "complex"};
};

// Bits per symbol of the configured modulation; 2 where the pair is unusual.
int bitsPerSymbol(const VectorMode& vm) {
    if (vm.format == "QPS")
        return 2;
    if (vm.format == "MSK")
        return 1;
    int bits = 0;
    while ((1 << bits) < std::max(2, vm.states))
        ++bits;
    return std::min(bits, 8);
}

// How far a drifting source has moved after `seconds`: at `dbPerS`, turning back at
// +-kDriftSwingDb as a source that wanders does, so that a bench left running for days
// (a long recording) never drives the levels to infinity.
constexpr double kDriftSwingDb = 60;
double driftDb(double dbPerS, double seconds) {
    const double moved = dbPerS * seconds;
    if (!std::isfinite(moved))
        return 0;
    // A triangle wave of period 4 * kDriftSwingDb, through 0 at moved = 0.
    const double phase = std::fmod(std::fabs(moved) + kDriftSwingDb, 4 * kDriftSwingDb);
    const double offset =
        phase < 2 * kDriftSwingDb ? phase - kDriftSwingDb : 3 * kDriftSwingDb - phase;
    return moved < 0 ? -offset : offset;
}

// The level of a spectrum analyzer at point i of trace t: a noise floor near -90 dBm
// and three carriers, or, in zero span, a burst over the middle of the sweep.
std::vector<float> spectrum(const TraceState& s, int trace, double seconds) {
    Noise noise(static_cast<uint64_t>(s.address) * 131 + static_cast<uint64_t>(trace));
    std::vector<float> v(static_cast<std::size_t>(s.points));
    const double n = s.points > 1 ? s.points - 1 : 1;
    struct Carrier {
        double offset;  // fraction of the span from the centre
        double level;   // dBm
    };
    const Carrier carriers[] = {{0.0, -25.0}, {-0.3, -48.0}, {0.21, -61.5}};
    for (int i = 0; i < s.points; ++i) {
        const double floorDb = -90.0 - 2.0 * (trace - 1) + 1.5 * noise.gauss();
        double power = std::pow(10.0, floorDb / 10);
        if (s.span != 0) {
            const double f = (i / n) * s.span + (s.centre - s.span / 2);
            for (const Carrier& c : carriers) {
                const double d = (f - (s.centre + c.offset * s.span)) / (s.span / 150);
                power += std::pow(10.0, (c.level + driftDb(s.driftDbPerS, seconds)) / 10) *
                         std::exp(-d * d);
            }
        } else if (i > s.points / 5 && i < s.points * 7 / 10) {
            power += std::pow(10.0, (-30.0 + 0.2 * noise.gauss()) / 10);
        }
        v[static_cast<std::size_t>(i)] = static_cast<float>(10 * std::log10(power));
    }
    return v;
}

// The symbols of a vector-analysis trace and their ideal I/Q points.
std::vector<uint8_t> symbolValues(const TraceState& s, int trace) {
    Noise noise(static_cast<uint64_t>(s.address) * 977 + static_cast<uint64_t>(trace));
    const uint32_t states = 1u << bitsPerSymbol(s.vm);
    std::vector<uint8_t> v(static_cast<std::size_t>(std::max(0, s.vm.symbols)));
    for (auto& x : v)
        x = static_cast<uint8_t>(noise.below(states));
    return v;
}

std::pair<double, double> idealPoint(const VectorMode& vm, uint32_t symbol) {
    const int bits = bitsPerSymbol(vm);
    if (vm.format == "QAM" && bits == 4) {
        const double levels[] = {-1.0, -1.0 / 3, 1.0 / 3, 1.0};
        return {levels[(symbol >> 2) & 3], levels[symbol & 3]};
    }
    const double m = static_cast<double>(1u << bits);
    const double angle = 2 * kPi * symbol / m + (vm.format == "QPS" ? kPi / 4 : 0.0);
    return {std::cos(angle), std::sin(angle)};
}

// Vector-analysis values as the configured layout sends them in REAL,32.
std::vector<float> vectorValues(const TraceState& s, int trace) {
    const std::vector<uint8_t> symbols = symbolValues(s, trace);
    if (s.vm.layout == "symbols")
        return std::vector<float>(symbols.begin(), symbols.end());
    Noise noise(static_cast<uint64_t>(s.address) * 31 + static_cast<uint64_t>(trace));
    const int p = std::max(1, s.vm.pointsPerSymbol);
    std::vector<float> v;
    std::pair<double, double> previous{0.0, 0.0};
    for (uint8_t sym : symbols) {
        const auto ideal = idealPoint(s.vm, sym);
        for (int k = 1; k <= p; ++k) {
            const double t = static_cast<double>(k) / p;
            const double i =
                previous.first + (ideal.first - previous.first) * t + 0.02 * noise.gauss();
            const double q =
                previous.second + (ideal.second - previous.second) * t + 0.02 * noise.gauss();
            if (s.vm.layout == "pairs") {
                v.push_back(static_cast<float>(i));
                v.push_back(static_cast<float>(q));
            } else {
                v.push_back(static_cast<float>(std::sqrt(i * i + q * q)));
            }
        }
        previous = ideal;
    }
    return v;
}

// Channel data of a network analyzer: a band-pass in dB (real formats) or a reflection
// spiral as real and imaginary parts (complex formats).
std::vector<float> channelData(const TraceState& s, int channel, bool complex) {
    Noise noise(static_cast<uint64_t>(s.address) * 71 + static_cast<uint64_t>(channel));
    std::vector<float> v;
    const double n = s.points > 1 ? s.points - 1 : 1;
    for (int i = 0; i < s.points; ++i) {
        const double x = i / n;
        if (complex) {
            const double r = 0.8 - 0.6 * x;
            const double a = -2 * kPi * 6 * x;
            v.push_back(static_cast<float>(r * std::cos(a) + 0.002 * noise.gauss()));
            v.push_back(static_cast<float>(r * std::sin(a) + 0.002 * noise.gauss()));
        } else {
            // Pass band from 35 % to 65 % of the sweep, about 60 dB stop-band rejection.
            const double d = std::pow((x - 0.5) / 0.15, 4);
            v.push_back(static_cast<float>(-1.5 - 60 * d / (1 + d) + 0.05 * noise.gauss()));
        }
    }
    return v;
}

std::vector<float> stimulus(const TraceState& s) {
    std::vector<float> v(static_cast<std::size_t>(s.points));
    const double n = s.points > 1 ? s.points - 1 : 1;
    for (int i = 0; i < s.points; ++i)
        v[static_cast<std::size_t>(i)] = static_cast<float>(s.start + (s.stop - s.start) * (i / n));
    return v;
}

// Sends values in the data format last chosen with FORM.
void sendValues(SimInstrument& inst, const TraceState& s, const std::vector<float>& values) {
    if (s.format == "REAL,32") {
        std::string bytes(values.size() * 4, '\0');
        if (!values.empty())
            std::memcpy(bytes.data(), values.data(), bytes.size());  // little endian
        inst.respondBlock(bytes);
    } else {
        std::string text;
        for (std::size_t i = 0; i < values.size(); ++i) {
            text += (i ? "," : "") + number(values[i]);
        }
        inst.respond(text);
    }
}

// "TRACE2" -> 2, "CH3DATA" -> 3; 0 when the argument names nothing known.
int traceArgument(const std::string& args, const char* prefix, const char* suffix) {
    std::string a;
    for (char c : args) {
        if (c != ' ')
            a += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    const std::string p = prefix;
    const std::string sfx = suffix;
    if (a.size() != p.size() + 1 + sfx.size() || a.compare(0, p.size(), p) != 0 ||
        a.compare(p.size() + 1, sfx.size(), sfx) != 0)
        return 0;
    const char d = a[p.size()];
    return d >= '1' && d <= '4' ? d - '0' : 0;
}

void installAnalyzer(SimInstrument& inst, std::shared_ptr<TraceState> s) {
    for (int t = 1; t <= 4; ++t) {
        inst.on("DISP:TRAC" + std::to_string(t) + ":STAT?", [&inst, s, t](const Command&) {
            const bool shown = std::find(s->shown.begin(), s->shown.end(), t) != s->shown.end();
            inst.respond(shown ? "1" : "0");
        });
    }
    inst.on("FREQ:CENT?", [&inst, s](const Command&) { inst.respond(number(s->centre)); });
    inst.on("FREQ:SPAN?", [&inst, s](const Command&) { inst.respond(number(s->span)); });
    inst.on("SWE:TIME?", [&inst, s](const Command&) { inst.respond(number(s->sweepTime)); });
    inst.on("TRAC?", [&inst, s](const Command& c) {
        const int t = traceArgument(c.args, "TRACE", "");
        if (t == 0)
            return;
        if (s->vector && s->format == "UINT,8") {
            const std::vector<uint8_t> symbols = symbolValues(*s, t);
            inst.respondBlock(std::string(symbols.begin(), symbols.end()));
            return;
        }
        sendValues(inst, *s,
                   s->vector
                       ? vectorValues(*s, t)
                       : spectrum(*s, t, static_cast<double>(inst.clock().nowMicros()) / 1e6));
    });
    if (s->knowsInstNsel) {
        inst.on("INST:NSEL?", [&inst, s](const Command&) { inst.respond(s->vector ? "2" : "1"); });
    }
    if (!s->vector)
        return;
    inst.on("SENS:DDEM:TIME?",
            [&inst, s](const Command&) { inst.respond(std::to_string(s->vm.symbols)); });
    inst.on("SENS:DDEM:PRAT?",
            [&inst, s](const Command&) { inst.respond(std::to_string(s->vm.pointsPerSymbol)); });
    inst.on("SENS:DDEM:FORM?", [&inst, s](const Command&) { inst.respond(s->vm.format); });
    for (const char* f : {"PSK", "QAM", "FSK"}) {
        inst.on(std::string("SENS:DDEM:") + f + ":NST?",
                [&inst, s](const Command&) { inst.respond(std::to_string(s->vm.states)); });
    }
}

void installNetworkAnalyzer(SimInstrument& inst, std::shared_ptr<TraceState> s) {
    inst.on("FORM:DEXP:SOUR", [](const Command&) {});
    inst.on("TRAC?", [&inst, s](const Command& c) {
        const int ch = traceArgument(c.args, "CH", "DATA");
        if (ch == 0 || s->channelFormat[ch].empty())
            return;
        sendValues(inst, *s, channelData(*s, ch, s->channelFormat[ch] == "complex"));
    });
    inst.on("TRAC:STIM?", [&inst, s](const Command& c) {
        const int ch = traceArgument(c.args, "CH", "DATA");
        if (ch == 0 || s->channelFormat[ch].empty())
            return;
        sendValues(inst, *s, stimulus(*s));
    });
}

}  // namespace

std::vector<KeySpec> traceKeys(const std::string& kind) {
    if (isSpectrumOrVectorAnalyzer(kind)) {
        std::vector<KeySpec> keys = {
            {"points", KeyType::Int, pointLimit, {}},
            {"center_hz", KeyType::Number, nonNegativeNumber, {}},
            {"span_hz", KeyType::Number, nonNegativeNumber, {}},
            {"sweep_time_s", KeyType::Number, nonNegativeNumber, {}},
            {"traces_shown", KeyType::IntList, traceList, {}},
            {"knows_inst_nsel", KeyType::Bool, nullptr, {}},
            // A drifting source: dB per second of bench time added to every carrier, up to
            // +-60 dB and back.
            {"drift_db_per_s", KeyType::Number, numberRange(-1000, 1000), {}},
        };
        if (kind == "vector-analyzer") {
            keys.push_back(
                {"vector_mode",
                 KeyType::Map,
                 nullptr,
                 {
                     {"symbols", KeyType::Int, intRange(1, 1000000), {}},
                     {"points_per_symbol", KeyType::Int, intRange(1, 64), {}},
                     {"format",
                      KeyType::Text,
                      [](const YAML::Node& n) {
                          return oneOf(n, {"QPS", "PSK", "MSK", "QAM", "FSK"},
                                       "QPS, PSK, MSK, QAM, FSK");
                      },
                      {}},
                     {"states", KeyType::Int, intRange(1, 1024), {}},
                     {"layout",
                      KeyType::Text,
                      [](const YAML::Node& n) {
                          return oneOf(n, {"plain", "pairs", "symbols"}, "plain, pairs, symbols");
                      },
                      {}},
                 }});
        }
        return keys;
    }
    if (kind == "network-analyzer") {
        const auto channelFormat = [](const YAML::Node& n) {
            return oneOf(n, {"real", "complex"}, "real, complex");
        };
        return {
            {"points", KeyType::Int, pointLimit, {}},
            {"start_hz", KeyType::Number, nonNegativeNumber, {}},
            {"stop_hz", KeyType::Number, nonNegativeNumber, {}},
            {"channels",
             KeyType::Map,
             nullptr,
             {
                 {"1", KeyType::Text, channelFormat, {}},
                 {"2", KeyType::Text, channelFormat, {}},
                 {"3", KeyType::Text, channelFormat, {}},
                 {"4", KeyType::Text, channelFormat, {}},
             }},
        };
    }
    return {};
}

void installTraceCommands(SimInstrument& inst) {
    const InstrumentConfig& config = inst.config();
    if (!isSpectrumOrVectorAnalyzer(config.kind) && config.kind != "network-analyzer")
        return;
    const YAML::Node& node = config.node;
    auto s = std::make_shared<TraceState>();
    s->kind = config.kind;
    s->address = config.address;
    inst.on("FORM", [s](const Command& c) {
        std::string f;
        for (char ch : c.args) {
            if (ch != ' ')
                f += static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        }
        s->format = f;
    });
    if (config.kind == "network-analyzer") {
        s->points = get<int>(node, "points", 201);
        s->start = get<double>(node, "start_hz", 10e6);
        s->stop = get<double>(node, "stop_hz", 3e9);
        if (node["channels"]) {
            for (int ch = 1; ch <= 4; ++ch) {
                const YAML::Node c = node["channels"][std::to_string(ch)];
                s->channelFormat[ch] = c ? c.as<std::string>() : "";
            }
        }
        installNetworkAnalyzer(inst, s);
        return;
    }
    s->points = get<int>(node, "points", 501);
    s->centre = get<double>(node, "center_hz", 1e9);
    s->span = get<double>(node, "span_hz", 1e8);
    s->sweepTime = get<double>(node, "sweep_time_s", 0.02);
    if (node["traces_shown"])
        s->shown = node["traces_shown"].as<std::vector<int>>();
    s->knowsInstNsel = get<bool>(node, "knows_inst_nsel", true);
    s->driftDbPerS = get<double>(node, "drift_db_per_s", 0.0);
    if (const YAML::Node vm = node["vector_mode"]) {
        s->vector = true;
        s->vm.symbols = get<int>(vm, "symbols", 100);
        s->vm.pointsPerSymbol = get<int>(vm, "points_per_symbol", 4);
        s->vm.format = get<std::string>(vm, "format", "QPS");
        s->vm.states = get<int>(vm, "states", 4);
        s->vm.layout = get<std::string>(vm, "layout", "plain");
    }
    installAnalyzer(inst, s);
}

}  // namespace benchcap::sim
