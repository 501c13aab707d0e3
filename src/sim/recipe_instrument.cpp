#include "sim/recipe_instrument.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include <zlib.h>

#include "sim/screen_picture.h"

namespace benchcap::sim {
namespace {

constexpr const char* kFormats[] = {"PNG", "BMP", "GIF", "JPEG", "TIFF", "WMF"};
// Picture files a recipe instrument sends (it sends them whole).
constexpr std::uintmax_t kMaxPictureFile = std::uintmax_t{64} << 20;

std::string oneOf(const YAML::Node& n, std::initializer_list<const char*> values) {
    const std::string v = n.as<std::string>();
    std::string all;
    for (const char* value : values) {
        if (v == value)
            return {};
        all += std::string(all.empty() ? "" : ", ") + value;
    }
    return "must be one of " + all;
}

std::string formatCheck(const YAML::Node& n) {
    return oneOf(n, {kFormats[0], kFormats[1], kFormats[2], kFormats[3], kFormats[4], kFormats[5]});
}

// Commands compare without regard to case or runs of blanks, as an instrument parses them.
std::string normal(std::string_view text) {
    std::string out;
    bool blank = false;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            blank = !out.empty();
            continue;
        }
        if (blank)
            out.push_back(' ');
        blank = false;
        out.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    }
    return out;
}

std::string text(const YAML::Node& node, const char* key) {
    return node[key] ? node[key].as<std::string>() : std::string();
}

void put32(std::string& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<char>((v >> shift) & 0xFF));
}

void chunk(std::string& png, const char* type, const std::string& data) {
    put32(png, static_cast<uint32_t>(data.size()));
    const std::string body = std::string(type, 4) + data;
    png += body;
    put32(png, static_cast<uint32_t>(::crc32(0, reinterpret_cast<const Bytef*>(body.data()),
                                             static_cast<uInt>(body.size()))));
}

uint32_t le32(const std::string& b, std::size_t at) {
    return static_cast<uint32_t>(static_cast<unsigned char>(b[at])) |
           static_cast<uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8 |
           static_cast<uint32_t>(static_cast<unsigned char>(b[at + 2])) << 16 |
           static_cast<uint32_t>(static_cast<unsigned char>(b[at + 3])) << 24;
}

constexpr int kTracePoints = 401;
constexpr double kTraceStart = 1e6;
constexpr double kTraceStep = 2.5e3;

// The trace commands of one number, normalised.
struct TraceCommands {
    std::string query, start, stop, step;
    std::vector<std::string> accepts;
};

std::string withNumber(std::string text, int number) {
    for (std::size_t at = text.find("{n}"); at != std::string::npos; at = text.find("{n}", at))
        text.replace(at, 3, std::to_string(number));
    return text;
}

template <class T>
void appendValue(std::string& out, T value, bool bigEndian) {
    char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    if (bigEndian)
        std::reverse(std::begin(bytes), std::end(bytes));
    out.append(bytes, sizeof(T));
}

std::string numberText(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

class RecipeInstrument final : public SimInstrument {
  public:
    RecipeInstrument(const InstrumentConfig& config, bus::Clock& clock)
        : SimInstrument(config, clock) {
        const YAML::Node& n = config.node;
        produce_ = normal(text(n, "produce"));
        read_ = normal(text(n, "read"));
        save_ = normal(text(n, "save"));
        delete_ = normal(text(n, "delete"));
        poll_ = normal(text(n, "poll"));
        pollBusy_ = n["poll_busy"] ? text(n, "poll_busy") : "1";
        pollDone_ = n["poll_done"] ? text(n, "poll_done") : "0";
        busyPolls_ = n["busy_polls"] ? n["busy_polls"].as<int>() : 1;
        framing_ = n["framing"] ? text(n, "framing") : "block";
        neverCompletes_ = n["never_completes"] && n["never_completes"].as<bool>();
        if (n["accepts"]) {
            for (const auto& c : n["accepts"])
                accepts_.push_back(normal(c.as<std::string>()));
        }
        picture_ = recipeInstrumentPicture(config);
        traceFormat_ = text(n, "trace_format");
        traceFraming_ = n["trace_framing"] ? text(n, "trace_framing") : "block";
        traceBig_ = text(n, "trace_byte_order") == "big";
        traceFault_ = text(n, "trace_fault");
        const int traces = n["traces"] ? n["traces"].as<int>() : 4;
        for (int k = 1; n["trace_query"] && k <= traces; ++k) {
            TraceCommands c{normal(withNumber(text(n, "trace_query"), k)),
                            normal(withNumber(text(n, "trace_start"), k)),
                            normal(withNumber(text(n, "trace_stop"), k)),
                            normal(withNumber(text(n, "trace_step"), k)),
                            {}};
            if (n["trace_accepts"]) {
                for (const auto& a : n["trace_accepts"])
                    c.accepts.push_back(normal(withNumber(a.as<std::string>(), k)));
            }
            traces_.push_back(std::move(c));
        }
    }

  protected:
    bool unhandled(const Command& cmd) override {
        const std::string got = normal(cmd.raw);
        if (got == "*OPC?") {
            if (!neverCompletes_)
                respond("1");
            return true;
        }
        if (got == produce_) {
            if (read_.empty()) {
                serve();
            } else {
                produced_ = true;
                stored_ = save_.empty();
            }
            return true;
        }
        if (!save_.empty() && got == save_) {
            stored_ = produced_;
            return true;
        }
        if (!read_.empty() && got == read_) {
            if (stored_)
                serve();
            else
                pushError(-256, "File name not found");
            return true;
        }
        if (!delete_.empty() && got == delete_) {
            stored_ = false;
            return true;
        }
        if (!poll_.empty() && got == poll_) {
            respond(polls_++ < busyPolls_ ? pollBusy_ : pollDone_);
            return true;
        }
        for (const std::string& a : accepts_) {
            if (got == a)
                return true;
        }
        return traceCommand(got);  // an error in its queue, and no answer
    }

  private:
    // A trace command: a prepare command, an axis query or the data query of a number.
    // A command without {n} (a data query after a source command) is for the last number.
    bool traceCommand(const std::string& got) {
        for (std::size_t k = 0; k < traces_.size(); ++k) {
            const TraceCommands& c = traces_[k];
            if (std::find(c.accepts.begin(), c.accepts.end(), got) != c.accepts.end()) {
                const auto holders =
                    std::count_if(traces_.begin(), traces_.end(), [&got](const TraceCommands& t) {
                        return std::find(t.accepts.begin(), t.accepts.end(), got) !=
                               t.accepts.end();
                    });
                if (holders == 1)
                    current_ = static_cast<int>(k) + 1;
                return true;
            }
            if (!c.start.empty() && got == c.start) {
                respond(numberText(kTraceStart));
                return true;
            }
            if (!c.stop.empty() && got == c.stop) {
                respond(numberText(kTraceStart + kTraceStep * (kTracePoints - 1)));
                return true;
            }
            if (!c.step.empty() && got == c.step) {
                respond(numberText(kTraceStep));
                return true;
            }
            if (got == c.query) {
                const bool own = traces_.size() < 2 || traces_[0].query != traces_[1].query;
                serveTrace(own ? static_cast<int>(k) + 1 : current_);
                return true;
            }
        }
        return false;
    }

    void serveTrace(int number) {
        if (traceFault_ == "silent")
            return;
        const RecipeTrace shape = recipeInstrumentTrace(number);
        std::string data;
        for (float v : shape.values) {
            if (traceFormat_ == "real32") {
                appendValue(data, v, traceBig_);
            } else if (traceFormat_ == "real64") {
                appendValue(data, static_cast<double>(v), traceBig_);
            } else {
                data += (data.empty() ? "" : ",") + numberText(v);
            }
        }
        if (traceFault_ == "garbage")
            data += ",12..5";
        if (traceFault_ == "odd_length")
            data += "xy";
        if (traceFraming_ == "block")
            respondBlock(data);
        else
            respondBulk(data + "\n", true);
    }

    void serve() {
        if (picture_.empty()) {
            pushError(-200, "Execution error (no picture)");
            return;
        }
        if (framing_ == "block")
            respondBlock(picture_);
        else if (framing_ == "end")
            respondBulk(picture_ + "\n", true);
        else
            respondBulk(picture_, true);
    }

    std::string produce_, read_, save_, delete_, poll_, pollBusy_, pollDone_, framing_;
    std::vector<std::string> accepts_;
    std::string picture_;
    int busyPolls_ = 1;
    int polls_ = 0;
    bool neverCompletes_ = false;
    std::vector<TraceCommands> traces_;
    std::string traceFormat_, traceFraming_, traceFault_;
    bool traceBig_ = false;
    int current_ = 1;
    bool produced_ = false;
    bool stored_ = false;
};

}  // namespace

std::vector<KeySpec> recipeInstrumentKeys() {
    return {
        {"recipe", KeyType::Text, nullptr, {}},
        {"produce", KeyType::Text, nullptr, {}},
        {"save", KeyType::Text, nullptr, {}},
        {"read", KeyType::Text, nullptr, {}},
        {"delete", KeyType::Text, nullptr, {}},
        {"poll", KeyType::Text, nullptr, {}},
        {"poll_busy", KeyType::Text, nullptr, {}},
        {"poll_done", KeyType::Text, nullptr, {}},
        {"busy_polls", KeyType::Int, intRange(0, 1000), {}},
        {"framing",
         KeyType::Text,
         [](const YAML::Node& n) {
             return oneOf(n, {"block", "end", "raw"});
         },
         {}},
        {"format", KeyType::Text, formatCheck, {}},
        {"picture_format", KeyType::Text, formatCheck, {}},
        {"picture", KeyType::Text, nullptr, {}},
        {"accepts", KeyType::TextList, nullptr, {}},
        {"never_completes", KeyType::Bool, nullptr, {}},
        {"traces", KeyType::Int, intRange(1, 8), {}},
        {"trace_query", KeyType::Text, nullptr, {}},
        {"trace_format",
         KeyType::Text,
         [](const YAML::Node& n) {
             return oneOf(n, {"ascii", "real32", "real64"});
         },
         {}},
        {"trace_byte_order",
         KeyType::Text,
         [](const YAML::Node& n) {
             return oneOf(n, {"little", "big"});
         },
         {}},
        {"trace_framing",
         KeyType::Text,
         [](const YAML::Node& n) {
             return oneOf(n, {"block", "end"});
         },
         {}},
        {"trace_start", KeyType::Text, nullptr, {}},
        {"trace_stop", KeyType::Text, nullptr, {}},
        {"trace_step", KeyType::Text, nullptr, {}},
        {"trace_accepts", KeyType::TextList, nullptr, {}},
        {"trace_fault",
         KeyType::Text,
         [](const YAML::Node& n) {
             return oneOf(n, {"silent", "garbage", "odd_length"});
         },
         {}},
    };
}

std::unique_ptr<SimInstrument> createRecipeInstrument(const InstrumentConfig& config,
                                                      bus::Clock& clock) {
    return std::make_unique<RecipeInstrument>(config, clock);
}

std::string recipeInstrumentPicture(const InstrumentConfig& config) {
    const YAML::Node& n = config.node;
    const std::string source = n["picture"] ? text(n, "picture") : "generated";
    if (source != "generated") {
        std::filesystem::path path(source);
        const std::string where = config.where.substr(0, config.where.rfind(':'));
        if (path.is_relative() && !where.empty())
            path = std::filesystem::path(where).parent_path() / path;
        std::error_code ec;
        if (std::filesystem::file_size(path, ec) > kMaxPictureFile || ec)
            return {};
        std::ifstream in(path, std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        return bytes.str();
    }
    const std::string format = n["picture_format"] ? text(n, "picture_format")
                               : n["format"]       ? text(n, "format")
                                                   : "PNG";
    std::string model = config.idn;
    if (const auto comma = model.find(','); comma != std::string::npos) {
        model = model.substr(comma + 1);
        model = model.substr(0, model.find(','));
    }
    const ScreenPicture screen = SpectrumScreen(ScreenInfo{model, 7, true});
    if (format == "BMP")
        return RenderBmp(screen);
    if (format == "PNG")
        return PngFromBmp(RenderBmp(screen));
    if (format == "WMF")
        return RenderWmf(screen);
    return {};  // GIF, JPEG, TIFF: give a `picture` file
}

RecipeTrace recipeInstrumentTrace(int traceNumber) {
    RecipeTrace trace;
    trace.start = kTraceStart;
    trace.step = kTraceStep;
    trace.stop = trace.start + trace.step * (kTracePoints - 1);
    // Noise from a linear congruential generator seeded by the number, and three peaks
    // whose places move with it.
    uint32_t seed = 12345u * static_cast<uint32_t>(traceNumber) + 1u;
    trace.values.reserve(kTracePoints);
    for (int i = 0; i < kTracePoints; ++i) {
        seed = seed * 1664525u + 1013904223u;
        double v = -90.0 + static_cast<double>(seed >> 8) / double(1 << 24) * 6.0;
        for (int peak = 1; peak <= 3; ++peak) {
            const double at = kTracePoints * (peak + 0.3 * traceNumber) / 4.5;
            v += (70.0 - 12.0 * peak) * std::exp(-(i - at) * (i - at) / 18.0);
        }
        trace.values.push_back(static_cast<float>(v));
    }
    return trace;
}

std::string PngFromBmp(const std::string& bmp) {
    if (bmp.size() < 54 || bmp[0] != 'B' || bmp[1] != 'M' || le32(bmp, 28) % 65536 != 24)
        return {};
    const uint32_t offset = le32(bmp, 10);
    const uint32_t width = le32(bmp, 18);
    const uint32_t height = le32(bmp, 22);
    const std::size_t stride = (width * 3 + 3) / 4 * 4;
    if (width == 0 || height == 0 || width > 16384 || height > 16384 ||
        offset + stride * height > bmp.size())
        return {};
    // Rows top down, each with filter byte 0, RGB.
    std::string raw;
    raw.reserve((width * 3 + 1) * height);
    for (uint32_t y = 0; y < height; ++y) {
        const std::size_t row = offset + stride * (height - 1 - y);
        raw.push_back('\0');
        for (uint32_t x = 0; x < width; ++x) {
            raw.push_back(bmp[row + x * 3 + 2]);
            raw.push_back(bmp[row + x * 3 + 1]);
            raw.push_back(bmp[row + x * 3]);
        }
    }
    std::string z(compressBound(static_cast<uLong>(raw.size())), '\0');
    uLongf zSize = static_cast<uLongf>(z.size());
    if (compress2(reinterpret_cast<Bytef*>(z.data()), &zSize,
                  reinterpret_cast<const Bytef*>(raw.data()), static_cast<uLong>(raw.size()),
                  Z_BEST_SPEED) != Z_OK)
        return {};
    z.resize(zSize);
    std::string png = "\x89PNG\r\n\x1a\n";
    std::string header;
    put32(header, width);
    put32(header, height);
    header += std::string("\x08\x02\x00\x00\x00", 5);  // 8-bit RGB, no interlace
    chunk(png, "IHDR", header);
    chunk(png, "IDAT", z);
    chunk(png, "IEND", "");
    return png;
}

}  // namespace benchcap::sim
