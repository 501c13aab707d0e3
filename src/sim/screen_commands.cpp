#include <algorithm>
#include <cctype>
#include <map>
#include <memory>

#include "bus/clock.h"
#include "sim/instrument_modules.h"
#include "sim/screen_picture.h"

namespace benchcap::sim {

namespace {

// Kinds with a screen to save: every analyzer, the network analyzer included.
bool hasAnalyzerScreen(const std::string& kind) {
    return kind == "spectrum-analyzer" || kind == "vector-analyzer" || kind == "network-analyzer";
}

std::string upper(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// A quoted SCPI string argument without its quotes (first argument only).
std::string unquote(const std::string& args) {
    if (!args.empty() && (args.front() == '\'' || args.front() == '"')) {
        const auto end = args.find(args.front(), 1);
        return args.substr(1, end == std::string::npos ? std::string::npos : end - 1);
    }
    const auto comma = args.find(',');
    return args.substr(0, comma);
}

std::string formatCheck(const YAML::Node& n) {
    const std::string v = upper(n.as<std::string>());
    return v == "WMF" || v == "BMP" ? std::string() : "must be WMF or BMP";
}

std::string drivesCheck(const YAML::Node& n) {
    for (const auto& d : n) {
        const std::string v = d.as<std::string>();
        if (v.size() != 1 || !std::isalpha(static_cast<unsigned char>(v[0]))) {
            return "must list single drive letters such as C and D";
        }
    }
    return {};
}

// The model field of the identification text ("KLVZ26" of "Veltronik,KLVZ26,...").
std::string modelField(const std::string& idn) {
    const auto a = idn.find(',');
    if (a == std::string::npos)
        return idn;
    const auto b = idn.find(',', a + 1);
    return idn.substr(a + 1, b == std::string::npos ? std::string::npos : b - a - 1);
}

// What an analyzer keeps for its hardcopies: the settings as the last command (or its front
// panel) left them, and the files printed to its mass memory.
struct HardcopyState {
    std::string destination = "MMEM";
    std::string language = "WMF";
    bool colour = true;
    std::string fileName;
    std::vector<std::string> drives{"C", "D"};
    std::map<std::string, std::string> files;  // upper-case name -> bytes
    unsigned prints = 0;
};

// Drive letter of a file name such as "D:\HARDCOPY.WMF"; the first drive when it has none.
std::string driveOf(const std::string& name, const HardcopyState& st) {
    if (name.size() >= 2 && name[1] == ':')
        return upper(name.substr(0, 1));
    return st.drives.empty() ? std::string("C") : st.drives.front();
}

bool hasDrive(const HardcopyState& st, const std::string& drive) {
    return std::find(st.drives.begin(), st.drives.end(), drive) != st.drives.end();
}

// Registers a handler under the long and the short form of an HCOPY header.
void onBoth(SimInstrument& inst, const std::string& longHeader, SimInstrument::Handler handler) {
    inst.on(longHeader, handler);
    if (longHeader.rfind("HCOPY:", 0) == 0)
        inst.on("HCOP:" + longHeader.substr(6), handler);
    if (longHeader.rfind("MMEM:", 0) == 0)
        inst.on("MMEMORY:" + longHeader.substr(5), handler);
}

void installAnalyzer(SimInstrument& inst) {
    auto st = std::make_shared<HardcopyState>();
    const YAML::Node& node = inst.config().node;
    if (node["drives"]) {
        st->drives.clear();
        for (const auto& d : node["drives"])
            st->drives.push_back(upper(d.as<std::string>()));
    }
    if (node["panel_format"])
        st->language = upper(node["panel_format"].as<std::string>());
    if (node["panel_color"])
        st->colour = node["panel_color"].as<bool>();
    const bool network = inst.config().kind == "network-analyzer";
    const std::string model = modelField(inst.config().idn);

    onBoth(inst, "HCOPY:DEST1",
           [st](const Command& c) { st->destination = upper(unquote(c.args)); });
    onBoth(inst, "HCOPY:DEST",
           [st](const Command& c) { st->destination = upper(unquote(c.args)); });
    onBoth(inst, "HCOPY:DEV:LANG", [st, &inst](const Command& c) {
        const std::string v = upper(c.args);
        if (v == "WMF" || v == "BMP") {
            st->language = v;
        } else {
            inst.pushError(-224, "Illegal parameter value");
        }
    });
    onBoth(inst, "HCOPY:DEV:COL", [st, &inst](const Command& c) {
        const std::string v = upper(c.args);
        if (v == "ON" || v == "1") {
            st->colour = true;
        } else if (v == "OFF" || v == "0") {
            st->colour = false;
        } else {
            inst.pushError(-224, "Illegal parameter value");
        }
    });
    onBoth(inst, "MMEM:NAME", [st](const Command& c) { st->fileName = unquote(c.args); });
    inst.on("SYST:DISP:UPD", [](const Command&) {});
    auto print = [st, &inst, network, model](const Command&) {
        if (st->destination != "MMEM")
            return;  // printed on paper: nothing on the disk
        const std::string drive = driveOf(st->fileName, *st);
        if (!hasDrive(*st, drive)) {
            inst.pushError(-250, "Mass storage error;drive " + drive + ": not present");
            return;
        }
        if (st->language == "WMF" && !CanRenderWmf()) {
            inst.pushError(-200, "Execution error;metafile output not available");
            return;
        }
        const ScreenInfo info{model, static_cast<unsigned>(inst.address()) * 131u + ++st->prints,
                              st->colour};
        const ScreenPicture screen = network ? NetworkScreen(info) : SpectrumScreen(info);
        st->files[upper(st->fileName)] =
            st->language == "WMF" ? RenderWmf(screen) : RenderBmp(screen);
        inst.clock().sleepMillis(300);  // printing takes the instrument a moment
    };
    onBoth(inst, "HCOPY:IMM1", print);
    onBoth(inst, "HCOPY:IMM", print);
    onBoth(inst, "MMEM:DATA?", [st, &inst](const Command& c) {
        const std::string name = unquote(c.args);
        const std::string drive = driveOf(name, *st);
        if (!hasDrive(*st, drive)) {
            inst.pushError(-250, "Mass storage error;drive " + drive + ": not present");
            return;
        }
        const auto it = st->files.find(upper(name));
        if (it == st->files.end()) {
            inst.pushError(-256, "File name not found;" + name);
            return;
        }
        inst.respondBlock(it->second);
    });
}

void installGenerator(SimInstrument& inst) {
    const std::string model = modelField(inst.config().idn);
    std::optional<int64_t> cut;
    if (const YAML::Node faults = inst.config().node["faults"];
        faults && faults["block_cut_after"]) {
        cut = faults["block_cut_after"].as<int64_t>();
    }
    auto prints = std::make_shared<unsigned>(0);
    const SimInstrument::Handler answer = [&inst, model, cut, prints](const Command&) {
        const ScreenInfo info{model, static_cast<unsigned>(inst.address()) * 131u + ++*prints,
                              true};
        std::string bmp = RenderBmp(GeneratorScreen(info));
        if (cut && *cut < static_cast<int64_t>(bmp.size())) {
            // The generator stops in the middle of its picture: no EOI.
            bmp.resize(static_cast<size_t>(*cut));
            inst.respondBulk(std::move(bmp), false);
            return;
        }
        inst.respondBulk(std::move(bmp), true);
    };
    inst.on("HCOP:DATA?", answer);
    inst.on("HCOPY:DATA?", answer);
}

}  // namespace

std::vector<KeySpec> screenKeys(const std::string& kind) {
    if (hasAnalyzerScreen(kind)) {
        return {
            {"drives", KeyType::TextList, drivesCheck, {}},
            {"panel_format", KeyType::Text, formatCheck, {}},
            {"panel_color", KeyType::Bool, nullptr, {}},
        };
    }
    return {};
}

void installScreenCommands(SimInstrument& instrument) {
    const std::string& kind = instrument.config().kind;
    if (hasAnalyzerScreen(kind))
        installAnalyzer(instrument);
    if (kind == "signal-generator")
        installGenerator(instrument);
}

}  // namespace benchcap::sim
