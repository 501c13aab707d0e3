#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "bus/clock.h"
#include "sim/bench_config.h"
#include "sim/instrument_modules.h"
#include "sim/screen_picture.h"

namespace benchcap::sim {

namespace {

// The folder of the bench file an entry came from ("file:line"), for relative plot files.
std::filesystem::path benchFolder(const std::string& where) {
    const auto colon = where.rfind(':');
    const std::filesystem::path file(colon == std::string::npos ? where : where.substr(0, colon));
    return file.parent_path();
}

bool isAsciiLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// How many numbers the answer to output instruction `query` holds (0: a name, OI).
int answerFields(const std::string& query) {
    static const std::map<std::string, int> kFields = {
        {"OA", 3}, {"OC", 3}, {"OD", 3}, {"OE", 1}, {"OF", 2}, {"OH", 4},
        {"OI", 0}, {"OO", 8}, {"OP", 4}, {"OS", 1}, {"OW", 4},
    };
    const auto it = kFields.find(query);
    return it == kFields.end() ? 1 : it->second;
}

// Whether `answer` is what a plotter gives for `query`: its fields, ended by CR (LF after
// it optional), and for OI the model the instrument is set up for (any, when none).
// An instrument takes nothing else.
bool plausibleAnswer(const std::string& query, std::string_view answer, const std::string& model) {
    if (answer.empty() || (answer.back() != '\r' && answer.back() != '\n'))
        return false;
    while (!answer.empty() && (answer.back() == '\r' || answer.back() == '\n'))
        answer.remove_suffix(1);
    const int fields = answerFields(query);
    if (fields == 0 && !model.empty())
        return answer == model;
    if (fields == 0)
        return !answer.empty() && std::all_of(answer.begin(), answer.end(), [](char c) {
            return std::isalnum(static_cast<unsigned char>(c)) != 0;
        });
    int count = 0;
    size_t start = 0;
    for (;;) {
        const size_t comma = std::min(answer.find(',', start), answer.size());
        const std::string_view field = answer.substr(start, comma - start);
        const bool number = !field.empty() && std::all_of(field.begin(), field.end(), [](char c) {
            return std::isdigit(static_cast<unsigned char>(c)) || c == '-' || c == '.';
        });
        if (!number)
            return false;
        ++count;
        if (comma == answer.size())
            break;
        start = comma + 1;
    }
    return count == fields;
}

// One stretch of the plot up to a question to the plotter: the bytes up to and with the
// output instruction, and its mnemonic ("" for the last stretch, which asks nothing).
struct PlotStretch {
    std::string bytes;
    std::string query;
};

// Splits a plot after each output instruction that starts an instruction (at the start
// or after ';' or a line end), its ';' and a carriage return going with it (the end of the
// read that takes the question).
std::vector<PlotStretch> splitAtQueries(const std::string& plot) {
    std::vector<PlotStretch> stretches;
    size_t from = 0;
    for (size_t i = 0; i + 1 < plot.size(); ++i) {
        const bool starts =
            i == 0 || plot[i - 1] == ';' || plot[i - 1] == '\n' || plot[i - 1] == '\r';
        if (!starts || (plot[i] != 'O' && plot[i] != 'o') || !isAsciiLetter(plot[i + 1]))
            continue;
        size_t end = i + 2;
        if (end < plot.size() && plot[end] == ';')
            ++end;
        if (end < plot.size() && plot[end] == '\r')
            ++end;
        std::string query = {
            'O', static_cast<char>(std::toupper(static_cast<unsigned char>(plot[i + 1])))};
        stretches.push_back({plot.substr(from, end - from), std::move(query)});
        from = end;
        i = end - 1;
    }
    stretches.push_back({plot.substr(from), ""});
    return stretches;
}

// An instrument that can only print its screen to a GPIB plotter. Once a board waits as
// listener at the plotter address, it starts after its delay (the user pressing the
// HARDCOPY key) and sends its plot as HPGL lines ended by CR LF, then stops talking.
// An asking one (plot_queries, plot_asks) sends each question, addresses the plotter to
// talk and waits for the answer with its own time-out; no answer, a late or a wrong one
// aborts the plot: it sends nothing more.
class PlotterOnlyInstrument final : public SimInstrument {
  public:
    PlotterOnlyInstrument(const InstrumentConfig& config, bus::Clock& clock)
        : SimInstrument(config, clock) {
        const YAML::Node& node = this->config().node;
        if (node["plotter_address"])
            plotterAddress_ = node["plotter_address"].as<int>();
        if (node["plot_delay_s"]) {
            delayMicros_ =
                static_cast<int64_t>(std::llround(node["plot_delay_s"].as<double>() * 1e6));
        }
        if (node["plot_queries"]) {
            for (const auto& q : node["plot_queries"])
                queries_.push_back(q.as<std::string>());
        }
        if (node["plotter_model"])
            model_ = node["plotter_model"].as<std::string>();
        if (node["talk_only"])
            talkOnly_ = node["talk_only"].as<bool>();
        if (node["plot_asks"])
            asks_ = node["plot_asks"].as<bool>();
        if (node["plot_answer_timeout_s"]) {
            answerTimeoutMicros_ = static_cast<int64_t>(
                std::llround(node["plot_answer_timeout_s"].as<double>() * 1e6));
        }
        if (node["plot_file"]) {
            std::filesystem::path path(node["plot_file"].as<std::string>());
            if (path.is_relative())
                path = benchFolder(this->config().where) / path;
            plotFile_ = path.string();
        }
    }

    std::optional<int64_t> talkDelayMicros(int listenerAddress) const override {
        // In talk-only mode it addresses nobody: only a listen-only board hears it.
        if (listenerAddress != (talkOnly_ ? kAnyListener : plotterAddress_))
            return std::nullopt;
        return delayMicros_;
    }

    void beginTalking() override {
        std::string plot;
        for (const std::string& line : plotLines())
            plot += line + "\r\n";
        stretches_.clear();
        for (const std::string& q : queries_)
            stretches_.push_back({q + ";\r\n", q});
        if (asks_) {
            for (PlotStretch& s : splitAtQueries(plot))
                stretches_.push_back(std::move(s));
        } else {
            stretches_.push_back({std::move(plot), ""});
        }
        next_ = 0;
        aborted_ = false;
        sendNext();
    }

    bool awaitsAnswer() const override {
        return !aborted_ && next_ > 0 && !stretches_[next_ - 1].query.empty() && output().empty();
    }

    void answerFromBoard(std::string_view bytes) override {
        if (!awaitsAnswer())
            return;
        const bool late = clock().nowMicros() - askedAt_ > answerTimeoutMicros_;
        if (late || !plausibleAnswer(stretches_[next_ - 1].query, bytes, model_)) {
            aborted_ = true;  // as a real one: the plot is given up, nothing more is sent
            return;
        }
        sendNext();
    }

  private:
    void sendNext() {
        if (next_ >= stretches_.size())
            return;
        respondBulk(stretches_[next_].bytes, true);
        askedAt_ = clock().nowMicros();
        ++next_;
    }

    std::vector<std::string> plotLines() const {
        if (!plotFile_.empty()) {
            std::ifstream in(plotFile_, std::ios::binary);
            if (!in)
                return {"IN;PU0,0;LBPLOT FILE NOT FOUND\x03;"};
            // The file may have changed since the bench was loaded (grown, or become a link
            // to an endless device): the size limit holds here too, at most one byte over
            // it is read.
            std::string text;
            char piece[64 * 1024];
            while (text.size() <= kMaxPlotFileBytes && in.read(piece, sizeof piece).gcount() > 0)
                text.append(piece, static_cast<size_t>(in.gcount()));
            if (text.size() > kMaxPlotFileBytes) {
                return {"IN;PU0,0;LBPLOT FILE LARGER THAN " +
                        std::to_string(kMaxPlotFileBytes >> 20) + " MB\x03;"};
            }
            std::vector<std::string> lines;
            std::istringstream stream(std::move(text));
            std::string line;
            while (std::getline(stream, line)) {
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                lines.push_back(line);
            }
            return lines;
        }
        return generatedPlot();
    }

    // A spectrum analyzer plot: frame, dotted graticule, the trace in short pieces, labels.
    std::vector<std::string> generatedPlot() const {
        std::vector<std::string> lines = {"IN;DF;", "IP250,596,10250,7796;", "SC0,1000,0,800;",
                                          "SP1;PU0,0;PD1000,0,1000,800,0,800,0,0;"};
        lines.push_back("SP2;LT1,1;");
        for (int i = 1; i < 10; ++i) {
            lines.push_back("PU" + std::to_string(i * 100) + ",0;PD" + std::to_string(i * 100) +
                            ",800;");
        }
        for (int i = 1; i < 8; ++i) {
            lines.push_back("PU0," + std::to_string(i * 100) + ";PD1000," +
                            std::to_string(i * 100) + ";");
        }
        lines.push_back("LT;SP3;");
        unsigned state = static_cast<unsigned>(address()) * 40503u + 11u;
        std::string piece;
        for (int i = 0; i <= 500; ++i) {
            const double level = SimulatedSpectrum(i / 500.0, state);
            const int y = std::max(0, static_cast<int>(std::lround(800.0 + level * 8.0)));
            const std::string point = std::to_string(i * 2) + "," + std::to_string(y);
            if (i == 0) {
                lines.push_back("PU" + point + ";");
                continue;
            }
            piece += (piece.empty() ? "PD" : ",") + point;
            if (i % 12 == 0 || i == 500) {
                lines.push_back(piece + ";");
                piece.clear();
            }
        }
        lines.push_back("SP1;SI0.19,0.27;");
        lines.push_back("PU0,830;LBREF 0.0 dBm   10 dB/\x03;");
        lines.push_back("PU600,830;LBRBW 100 kHz  VBW 300 kHz\x03;");
        lines.push_back("PU0,-50;LBCENTER 1.000 GHz\x03;");
        lines.push_back("PU700,-50;LBSPAN 100 MHz\x03;");
        lines.push_back("PU;SP0;");
        return lines;
    }

    int plotterAddress_ = 5;
    int64_t delayMicros_ = 2'000'000;
    std::string plotFile_;
    std::vector<std::string> queries_;
    bool asks_ = false;
    bool talkOnly_ = false;
    std::string model_;  // the plotter it is set up for ("" any)
    int64_t answerTimeoutMicros_ = 5'000'000;
    std::vector<PlotStretch> stretches_;
    size_t next_ = 0;  // stretches sent
    bool aborted_ = false;
    int64_t askedAt_ = 0;
};

}  // namespace

std::vector<KeySpec> plotterKeys() {
    return {
        {"plotter_address", KeyType::Int, intRange(0, 30), {}},
        {"plot_delay_s", KeyType::Number, numberRange(0, 1000), {}},
        {"plot_file", KeyType::Text, nullptr, {}},
        {"plot_queries",
         KeyType::TextList,
         [](const YAML::Node& list) -> std::string {
             for (const auto& q : list) {
                 const std::string text = q.as<std::string>();
                 if (text.size() != 2 || text[0] != 'O' || !isAsciiLetter(text[1]))
                     return "'" + text + "' is no output instruction (OI, OP, OS, ...)";
             }
             return {};
         },
         {}},
        {"plot_asks", KeyType::Bool, nullptr, {}},
        {"talk_only", KeyType::Bool, nullptr, {}},
        {"plotter_model",
         KeyType::Text,
         [](const YAML::Node& v) -> std::string {
             const std::string m = v.as<std::string>();
             return m == "7470A" || m == "7475A" ? "" : "must be 7470A or 7475A";
         },
         {}},
        {"plot_answer_timeout_s", KeyType::Number, numberRange(0.001, 1000), {}},
    };
}

std::unique_ptr<SimInstrument> createPlotterOnly(const InstrumentConfig& config,
                                                 bus::Clock& clock) {
    return std::make_unique<PlotterOnlyInstrument>(config, clock);
}

}  // namespace benchcap::sim
