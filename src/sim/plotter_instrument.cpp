#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

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

// An instrument that can only print its screen to a GPIB plotter. Once a board waits as
// listener at the plotter address, it starts after its delay (the user pressing the
// HARDCOPY key) and sends its plot as HPGL lines ended by CR LF, then stops talking.
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
        if (node["plot_file"]) {
            std::filesystem::path path(node["plot_file"].as<std::string>());
            if (path.is_relative())
                path = benchFolder(this->config().where) / path;
            plotFile_ = path.string();
        }
    }

    std::optional<int64_t> talkDelayMicros(int listenerAddress) const override {
        if (listenerAddress != plotterAddress_)
            return std::nullopt;
        return delayMicros_;
    }

    void beginTalking() override {
        std::string plot;
        for (const std::string& line : plotLines())
            plot += line + "\r\n";
        respondBulk(std::move(plot), true);
    }

  private:
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
};

}  // namespace

std::vector<KeySpec> plotterKeys() {
    return {
        {"plotter_address", KeyType::Int, intRange(0, 30), {}},
        {"plot_delay_s", KeyType::Number, numberRange(0, 1000), {}},
        {"plot_file", KeyType::Text, nullptr, {}},
    };
}

std::unique_ptr<SimInstrument> createPlotterOnly(const InstrumentConfig& config,
                                                 bus::Clock& clock) {
    return std::make_unique<PlotterOnlyInstrument>(config, clock);
}

}  // namespace benchcap::sim
