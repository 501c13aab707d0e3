#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <variant>

#include "bus/model_table.h"
#include "bus/session.h"
#include "cli/cli.h"
#include "cli/command_options.h"
#include "hardcopy/hardcopy_workflow.h"
#include "hardcopy/picture/picture.h"
#include "office/uno_office.h"

namespace benchcap::cli {

namespace {

// The command's boxes, printed by the context's boxes; the plotter offer (the one Yes/No
// question) is answered by --plotter.
class HardcopyBoxes final : public bus::UserInterface {
  public:
    HardcopyBoxes(CliUserInterface& boxes, bool plotter) : boxes_(boxes), plotter_(plotter) {}

    bus::MessageResult messageBox(bus::MessageIcon icon, const std::string& title,
                                  const std::string& text, bus::MessageButtons buttons) override {
        const bus::MessageResult shown = boxes_.messageBox(icon, title, text, buttons);
        if (buttons != bus::MessageButtons::YesNo)
            return shown;
        return plotter_ ? bus::MessageResult::Yes : bus::MessageResult::No;
    }
    std::optional<std::string> inputBox(const std::string& title, const std::string& prompt,
                                        const std::string& preset) override {
        return boxes_.inputBox(title, prompt, preset);
    }

  private:
    CliUserInterface& boxes_;
    bool plotter_;
};

// Status texts on stdout, one per line; of the capture's "receiving" texts only the first,
// and without the control characters a received piece may start with.
class StatusPrinter {
  public:
    explicit StatusPrinter(std::ostream& out) : out_(out) {}
    void operator()(const std::string& text) {
        const bool receiving = text.rfind("receiving", 0) == 0;
        if (receiving && receivingShown_)
            return;
        receivingShown_ = receiving;
        for (const char c : text)
            out_ << (static_cast<unsigned char>(c) < 0x20 ? ' ' : c);
        out_ << '\n';
    }

  private:
    std::ostream& out_;
    bool receivingShown_ = false;
};

// The picture format an output name asks for by its extension (.wmf, .bmp in any case).
std::optional<std::string> formatOfName(const std::string& file) {
    std::string ext = std::filesystem::path(file).extension().string();
    for (char& c : ext)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (ext == ".WMF" || ext == ".BMP")
        return ext.substr(1);
    return std::nullopt;
}

// What `hardcopy` was asked to do, checked.
struct HardcopyRequest {
    int address = 0;
    hardcopy::HardcopyOptions options;
    std::string output;  // "": the default name
    bool plotter = false;
    bool pasteDocument = false;
    std::optional<std::string> recipe;        // a screenshot recipe forced by name
    std::optional<std::string> recipeFolder;  // the folder of the user's recipes.yaml
};

// The picture format of --format and the output's name; they must agree, so a file never
// holds another format than its name says.
std::optional<std::string> pictureFormat(CliContext& context, std::optional<std::string> format,
                                         const std::string& output) {
    if (format) {
        for (char& c : *format)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (*format != "WMF" && *format != "BMP") {
            context.err << "benchcap-cli hardcopy: --format must be WMF or BMP, not '" << *format
                        << "'\n";
            return std::nullopt;
        }
    }
    const std::optional<std::string> named = formatOfName(output);
    if (named && format && *named != *format) {
        context.err << "benchcap-cli hardcopy: --format " << *format
                    << " does not match the output file " << output << ", whose name asks for "
                    << *named << ": leave out --format or name the file ." << *format << '\n';
        return std::nullopt;
    }
    return named ? *named : format.value_or("BMP");
}

// The request, or the exit code after the help or what is wrong with the arguments.
std::variant<HardcopyRequest, int> parseHardcopyRequest(CliContext& context,
                                                        const std::vector<std::string>& args) {
    HardcopyRequest r;
    std::string addressText;
    std::optional<std::string> format;
    std::optional<std::string> output;
    std::optional<std::string> plotterModel;
    bool bw = false;
    CommandOptions parser("hardcopy");
    parser.argument("ADDRESS", addressText, "the instrument's bus address, 1..30")
        .value("--format", format, "WMF|BMP", "the picture format (by the file name, else BMP)",
               "WMF or BMP")
        .flag("--bw", bw, "black and white")
        .flag("--suppress-config", r.options.suppressConfig, "leave out the settings panel")
        .flag("--plotter", r.plotter, "accept the plotter offer: capture the plot")
        .value("--plotter-model", plotterModel, "7470A|7475A",
               "the plotter the capture answers as when the instrument asks (default 7470A)",
               "7470A or 7475A")
        .flag("--listen-only", r.options.plotter.listenOnly,
              "capture a talk-only instrument's plot: a \"++\" adapter listens to all (++lon)")
        .value("-o", output, "FILE", "the output file", "a file name")
        .flag("--paste-document", r.pasteDocument, "paste the picture into a new document")
        .value("--recipe", r.recipe, "NAME",
               "take an instrument of another maker by this screenshot recipe (default: the "
               "recipe matching its identification)",
               "a recipe name")
        .value("--config", r.recipeFolder, "DIR",
               "the folder of the user's recipes.yaml (default ~/.config/benchcap)", "a folder");
    if (const std::optional<int> done = parser.parse(context.out, context.err, args))
        return *done;
    r.options.color = !bw;
    if (plotterModel) {
        const auto model = hpgl::plotterModelNamed(*plotterModel);
        if (!model) {
            context.err << "benchcap-cli hardcopy: --plotter-model must be 7470A or 7475A, not '"
                        << *plotterModel << "'\n";
            return kExitUsage;
        }
        r.options.plotter.model = *model;
    }
    const std::optional<int> address = addressArgument(context, "hardcopy", addressText);
    if (!address)
        return kExitUsage;
    r.address = *address;
    if (output && output->empty()) {
        context.err << "benchcap-cli hardcopy: -o needs a file name\n";
        return kExitUsage;
    }
    // "-" reads as standard output, but a picture is only ever written to a file.
    if (output == "-") {
        context.err << "benchcap-cli hardcopy: -o - would make a file named '-': the picture "
                       "goes to a file, not to standard output; name the file (./- for one "
                       "named '-')\n";
        return kExitUsage;
    }
    if (!outputsUsable(context, "hardcopy", {&output}))
        return kExitUsage;
    r.output = output.value_or("");
    const std::optional<std::string> chosen = pictureFormat(context, format, r.output);
    if (!chosen)
        return kExitUsage;
    r.options.format = *chosen;
    return r;
}

// Tells where the picture went, pastes it when asked, or says why there is none.
int reportHardcopy(CliContext& context, const HardcopyRequest& r,
                   const hardcopy::HardcopyOutcome& outcome) {
    if (outcome.written) {
        std::error_code ec;
        const auto size = std::filesystem::file_size(outcome.file, ec);
        context.out << "written: " << outcome.file;
        if (!ec)
            context.out << " (" << size << " bytes)";
        context.out << '\n';
        if (r.pasteDocument) {
            // The picture file as written goes into the running word processor.
            std::ifstream in(outcome.file, std::ios::binary);
            const std::string picture{std::istreambuf_iterator<char>(in), {}};
            office::LibreOfficeBridge office(context.ui);
            if (const Status pasted = office.PasteInWord(picture); !pasted.ok()) {
                context.err << "benchcap-cli hardcopy: " << pasted.error() << '\n';
                return kExitNoAnswer;
            }
            context.out << "pasted into the text document\n";
        }
        return kExitDone;
    }
    if (!outcome.status) {
        context.err << "benchcap-cli hardcopy: " << outcome.status.error() << '\n';
    } else if (outcome.way == hardcopy::HardcopyWay::Plotter && !r.plotter) {
        context.err << "benchcap-cli hardcopy: no picture; add --plotter to capture the "
                       "instrument's plot as HPGL (press its HARDCOPY key when asked)\n";
    }
    return kExitNoAnswer;
}

}  // namespace

// One screen hardcopy as the window's hardcopy command takes it: identification, the
// answers for silent, unsupported and unknown instruments, the firmware check, then the
// transfer, the generator read or (with --plotter) the plotter emulation.
int cmdHardcopy(CliContext& context, const std::vector<std::string>& args) {
    std::variant<HardcopyRequest, int> parsed = parseHardcopyRequest(context, args);
    if (const int* done = std::get_if<int>(&parsed))
        return *done;
    const HardcopyRequest& r = std::get<HardcopyRequest>(parsed);
    const std::string& output = r.output;
    const std::optional<recipes::RecipeBook> book =
        loadRecipes(context, "hardcopy", r.recipeFolder);
    if (!book)
        return kExitUsage;
    const std::unique_ptr<CliInstrument> device = openInstrument(context, r.address);
    if (!device)
        return kExitUsage;
    bus::CurrentInstrument& instrument = device->instrument;
    bus::Session& session = device->session;
    std::string hardcopyDrive;
    // Without --plotter the plotter offer is answered No: a capture waits for a key press
    // at the instrument, which an unattended run cannot give.
    HardcopyBoxes boxes(context.ui, r.plotter);
    auto printer = std::make_shared<StatusPrinter>(context.out);

    hardcopy::HardcopyServices services{
        session,
        hardcopyDrive,
        boxes,
        [printer](const std::string& text) { (*printer)(text); },
        [&output](std::string_view extension) {
            if (!output.empty())
                return output;
            if (extension == "HGL")
                return std::string("MainForm.HGL");
            return "HARDCOPY." + std::string(extension);
        },
    };
    services.checkPicture = picture::checkPictureFile;
    services.recipes = &*book;
    services.recipeName = r.recipe.value_or("");
    services.clock = &context.clock();
    // A generator sends its screen as a bitmap whatever is asked: never under a .wmf name.
    if (const bus::ModelFamily* family = bus::familyNamed(instrument.ModelName);
        family && family->generatorHardcopy &&
        formatOfName(output) == std::optional<std::string>("WMF")) {
        context.err << "benchcap-cli hardcopy: the " << instrument.ModelName << " at GPIB "
                    << r.address << " sends its screen as a bitmap only: name the output .bmp\n";
        session.GoToLocal();
        return kExitUsage;
    }
    const hardcopy::HardcopyOutcome outcome = hardcopy::HardcopyByModel(services, r.options);

    return reportHardcopy(context, r, outcome);
}

}  // namespace benchcap::cli
