#include <QGuiApplication>
#include <QLocale>
#include <QString>
#include <array>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <ostream>
#include <span>
#include <variant>
#include <vector>

#include "bus/identification.h"
#include "bus/session.h"
#include "cli/cli.h"
#include "cli/command_options.h"
#include "cli/headless_picture.h"
#include "office/uno_office.h"
#include "trace/acquisition.h"
#include "trace/plot/trace_plot.h"
#include "trace/touchstone.h"
#include "trace/trace_command.h"
#include "trace/trace_recipe.h"
#include "trace/trace_text.h"

namespace benchcap::cli {

std::optional<char> decimalSeparatorFor(const std::string& localeName) {
    if (localeName.empty() || localeName == "C" || localeName == "POSIX")
        return '.';
    // Qt falls back to the C locale for a name it does not know; a typing error must not
    // silently give points where commas were asked for.
    const QLocale locale(QString::fromLatin1(localeName));
    if (locale.language() == QLocale::C || localeName.find('/') != std::string::npos)
        return std::nullopt;
    const QString point = locale.decimalPoint();
    if (point.size() == 1 && point.at(0).unicode() < 0x80)
        return static_cast<char>(point.at(0).unicode());
    return '.';  // a separator that is not one 8-bit character cannot go into the text
}

char decimalSeparatorFromEnvironment() {
    for (const char* variable : {"LC_ALL", "LC_NUMERIC", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value && *value)
            return decimalSeparatorFor(value).value_or('.');
    }
    return '.';
}

std::optional<char> chosenDecimalSeparator(CliContext& context, const std::string& command,
                                           const std::optional<std::string>& localeName) {
    if (!localeName)
        return decimalSeparatorFromEnvironment();
    const std::optional<char> separator = decimalSeparatorFor(*localeName);
    if (!separator) {
        context.err << "benchcap-cli " << command << ": --locale " << *localeName
                    << " names no locale this system knows; give a name such as de_DE, "
                       "en_US.UTF-8 or C\n";
    }
    return separator;
}

namespace {

// "WxH" with both sides 1..16384.
std::optional<QSize> parsePlotSize(const std::string& text) {
    const auto size = parseSizeText(text, trace::kMaxPlotSide);
    if (!size)
        return std::nullopt;
    return QSize(size->first, size->second);
}

// Draws the plot file with the window's drawing; `drawn` tells what it drew.
Status writePlot(const std::string& file, PlotFileFormat format, const trace::TraceDataSet& data,
                 QSize size, trace::PlotSummary& drawn) {
    const HeadlessGui gui;
    const trace::PlotStyle style = trace::DefaultPlotStyle();
    return writePictureFile(file, format, size, [&](QPainter& painter, const QRect& area) {
        drawn = trace::DrawTracePlot(painter, area, data, style);
        return Status{};
    });
}

// Why a plot came out blank, for a note beside the file: a graph needs two different
// finite values.
std::string blankPlotReason(const trace::PlotSummary& drawn, const trace::TraceDataSet& data) {
    if (std::isnan(drawn.min))
        return "the trace holds no finite values (only NaN or infinity)";
    const QString value = QString::number(drawn.min, 'g', 9);
    if (data.ValueCount() == 1)
        return "the trace holds one value only (" + value.toStdString() + ")";
    return "every finite value of the trace is " + value.toStdString();
}

}  // namespace

namespace {

// What `trace` was asked to do, checked.
struct TraceRequest {
    int address = 0;
    int traceNumber = 0;
    std::optional<std::string> outputFile;
    std::optional<std::string> locale;
    std::optional<std::string> plotFile;
    PlotFileFormat plotFormat = PlotFileFormat::Png;
    QSize plotSize = kDefaultPlotSize;
    bool pasteSpreadsheet = false;
    bool touchstone = false;  // --format touchstone
    trace::TouchstoneVersion touchstoneVersion = trace::TouchstoneVersion::V1_1;
    int ports = 1;                            // 2: channels 1 to 4 as S11, S21, S12, S22
    std::optional<std::string> recipe;        // a trace recipe forced by name
    std::optional<std::string> recipeFolder;  // the folder of the user's recipes.yaml
};

// --format, --touchstone-version and --ports, checked; false after saying what is wrong.
bool parseTouchstoneChoice(CliContext& context, TraceRequest& r,
                           const std::optional<std::string>& format,
                           const std::optional<std::string>& version,
                           const std::optional<std::string>& ports) {
    if (format && *format != "text" && *format != "touchstone") {
        context.err << "benchcap-cli trace: --format takes text or touchstone, not '" << *format
                    << "'\n";
        return false;
    }
    r.touchstone = format == "touchstone";
    if ((version || ports) && !r.touchstone) {
        context.err << "benchcap-cli trace: --touchstone-version and --ports belong to "
                       "--format touchstone\n";
        return false;
    }
    if (version && *version != "1.1" && *version != "2.0" && *version != "1" && *version != "2") {
        context.err << "benchcap-cli trace: --touchstone-version takes 1.1 or 2.0, not '"
                    << *version << "'\n";
        return false;
    }
    if (version && version->front() == '2')
        r.touchstoneVersion = trace::TouchstoneVersion::V2_0;
    if (ports && *ports != "1" && *ports != "2") {
        context.err << "benchcap-cli trace: --ports takes 1 (.s1p) or 2 (.s2p), not '" << *ports
                    << "'\n";
        return false;
    }
    r.ports = ports == "2" ? 2 : 1;
    if (r.ports == 2 && r.traceNumber != 1) {
        context.err << "benchcap-cli trace: --ports 2 reads channels 1 to 4 as S11, S21, S12 and "
                       "S22: give 1 as N, not "
                    << r.traceNumber << "\n";
        return false;
    }
    return true;
}

// The request, or the exit code after the help or what is wrong with the arguments.
std::variant<TraceRequest, int> parseTraceRequest(CliContext& context,
                                                  const std::vector<std::string>& args) {
    TraceRequest r;
    std::string addressText;
    std::string numberText;
    std::optional<std::string> plotSizeText;
    std::optional<std::string> format;
    std::optional<std::string> version;
    std::optional<std::string> ports;
    CommandOptions options("trace");
    options.argument("ADDRESS", addressText, "the instrument's bus address, 1..30")
        .argument("N", numberText, "the trace number")
        .value("-o", r.outputFile, "FILE", "write the text to FILE, not to standard output")
        .value("--locale", r.locale, "NAME", "the decimal separator of this locale")
        .value("--plot", r.plotFile, "FILE.(png|svg|pdf)", "also draw the trace into FILE")
        .value("--size", plotSizeText, "WxH", "the size of the --plot picture")
        .flag("--paste-spreadsheet", r.pasteSpreadsheet, "paste the values into a spreadsheet")
        .value("--format", format, "text|touchstone",
               "touchstone: a network analyzer's channel as a Touchstone file")
        .value("--touchstone-version", version, "1.1|2.0", "the Touchstone version, default 1.1")
        .value("--ports", ports, "1|2", "2: channels 1 to 4 as S11, S21, S12, S22 (.s2p)")
        .value("--recipe", r.recipe, "NAME",
               "read an instrument of another maker by this recipe's trace section (default: "
               "the recipe matching its identification)",
               "a recipe name")
        .value("--config", r.recipeFolder, "DIR",
               "the folder of the user's recipes.yaml (default ~/.config/benchcap)", "a folder");
    if (const std::optional<int> done = options.parse(context.out, context.err, args))
        return *done;
    const std::optional<int> address = addressArgument(context, "trace", addressText);
    if (!address)
        return kExitUsage;
    r.address = *address;
    const auto [ptr, ec] =
        std::from_chars(numberText.data(), numberText.data() + numberText.size(), r.traceNumber);
    if (ec != std::errc() || ptr != numberText.data() + numberText.size()) {
        context.err << "benchcap-cli trace: the trace number must be a whole number, not '"
                    << numberText << "'\n";
        return kExitUsage;
    }
    if (!parseTouchstoneChoice(context, r, format, version, ports))
        return kExitUsage;
    if (r.outputFile && r.outputFile->empty()) {
        context.err << "benchcap-cli trace: -o needs a file name\n";
        return kExitUsage;
    }
    if (!outputsUsable(context, "trace", {&r.outputFile, &r.plotFile}))
        return kExitUsage;
    if (r.touchstone && r.outputFile) {
        // Refused before the channels are read, not after.
        const Status name = trace::CheckTouchstoneName(
            *r.outputFile, static_cast<std::size_t>(r.ports), r.touchstoneVersion);
        if (!name) {
            context.err << "benchcap-cli trace: " << name.error() << '\n';
            return kExitUsage;
        }
    }
    if (r.plotFile) {
        const std::optional<PlotFileFormat> format = plotFileFormatFor(*r.plotFile);
        if (!format) {
            context.err << "benchcap-cli trace: --plot writes PNG, SVG or PDF: name the file "
                           "with one of the extensions .png, .svg or .pdf, not '"
                        << *r.plotFile << "'\n";
            return kExitUsage;
        }
        r.plotFormat = *format;
    }
    if (plotSizeText) {
        const std::optional<QSize> size = parsePlotSize(*plotSizeText);
        if (!size || !r.plotFile) {
            context.err << "benchcap-cli trace: --size takes WIDTHxHEIGHT, each 1.."
                        << trace::kMaxPlotSide << ", for the picture of --plot, not '"
                        << *plotSizeText << "'\n";
            return kExitUsage;
        }
        r.plotSize = *size;
    }
    return r;
}

// The Touchstone file of the channels read, to its file or standard output.
int deliverTouchstone(CliContext& context, const TraceRequest& r,
                      std::span<const trace::TraceState> states, const std::string& identity) {
    std::vector<trace::TouchstoneChannel> channels;
    for (std::size_t k = 0; k < states.size(); ++k)
        channels.push_back({&states[k].data, r.traceNumber + static_cast<int>(k), {}});
    const trace::TouchstoneOptions options{r.touchstoneVersion, identity};
    if (r.outputFile) {
        if (const Status written = trace::WriteTouchstone(*r.outputFile, channels, options);
            !written) {
            context.err << "benchcap-cli trace: " << written.error() << '\n';
            return kExitNoAnswer;
        }
        return kExitDone;
    }
    const Result<std::string> text = trace::TouchstoneText(channels, options);
    if (!text) {
        context.err << "benchcap-cli trace: " << text.error() << '\n';
        return kExitNoAnswer;
    }
    context.out << *text;
    return kExitDone;
}

// The text to its file or standard output, then the plot and the paste that were asked for.
int deliverTrace(CliContext& context, const TraceRequest& r, trace::TraceState& state,
                 char separator) {
    if (r.touchstone) {
        // The Touchstone file has taken the text's place.
    } else if (r.outputFile) {
        if (const Status written = trace::WriteTraceFile(*r.outputFile, state.field, separator);
            !written) {
            context.err << written.error() << '\n';
            return kExitNoAnswer;
        }
    } else {
        // A failed standard output stops the writing; the dispatcher reports it.
        const Status printed =
            trace::WriteTraceText(state.field, separator, [&context](std::string_view piece) {
                context.out.write(piece.data(), static_cast<std::streamsize>(piece.size()));
                return context.out ? Status() : Status(fail("standard output failed"));
            });
        if (!printed)
            return kExitNoAnswer;
    }
    if (r.plotFile) {
        trace::PlotSummary drawn;
        if (const Status written =
                writePlot(*r.plotFile, r.plotFormat, state.data, r.plotSize, drawn);
            !written) {
            context.err << written.error() << '\n';
            return kExitNoAnswer;
        }
        if (drawn.kind == trace::PlotKind::Blank) {
            context.err << "benchcap-cli trace: note: the plot " << *r.plotFile
                        << " is blank: " << blankPlotReason(drawn, state.data)
                        << "; a graph needs two different values\n";
        }
    }
    if (r.pasteSpreadsheet) {
        // Occupied cells get the question's safe answer from the unattended boxes: No.
        context.ui.setQuiet(false);
        office::LibreOfficeBridge office(context.ui);
        if (const Status pasted = office.PasteInExcel(state.field); !pasted.ok()) {
            context.err << "benchcap-cli trace: " << pasted.error() << '\n';
            return kExitNoAnswer;
        }
    }
    return kExitDone;
}

}  // namespace

int cmdTrace(CliContext& context, const std::vector<std::string>& args) {
    std::variant<TraceRequest, int> parsed = parseTraceRequest(context, args);
    if (const int* done = std::get_if<int>(&parsed))
        return *done;
    const TraceRequest& r = std::get<TraceRequest>(parsed);
    const std::optional<char> chosen = chosenDecimalSeparator(context, "trace", r.locale);
    if (!chosen)
        return kExitUsage;
    const char separator = *chosen;
    const std::optional<recipes::RecipeBook> book = loadRecipes(context, "trace", r.recipeFolder);
    if (!book)
        return kExitUsage;
    const recipes::Recipe* forced = r.recipe ? book->named(*r.recipe) : nullptr;
    if (r.recipe && (!forced || !forced->trace)) {
        context.err << "benchcap-cli trace: there is no recipe named '" << *r.recipe
                    << "' with a trace section; \"benchcap-cli recipes\" lists the recipes\n";
        return kExitUsage;
    }
    // What InitDevice does: select the address, open, identify.
    const std::unique_ptr<CliInstrument> device = openInstrument(context, r.address);
    if (!device)
        return kExitUsage;
    bus::Session& session = device->session;
    if (device->instrument.ModelName == bus::kModelNoAnswer) {
        context.err << "No device was found on GPIB " << r.address << '\n';
        return kExitNoAnswer;
    }

    // The identification answer, for the Touchstone file's comment.
    const std::string identity = trace::CutAnswer(session.lastReply());
    // An instrument the model table does not know is read by its recipe's trace section.
    const recipes::Recipe* byRecipe =
        trace::TraceRecipeFor(*book, device->instrument, withoutNulFilling(session.lastReply()),
                              forced ? forced->name : std::string());

    // The boxes of the acquisition come back in the result; print each once.
    context.ui.setQuiet(true);
    // One channel, or the four of a two-port file, each read as the trace command reads it.
    std::array<trace::TraceState, 4> states;
    const std::size_t reads = r.ports == 2 ? 4 : 1;
    bool noticed = false;
    for (std::size_t k = 0; k < reads; ++k) {
        // The text goes from the table straight into the file or the pipe, a few megabytes
        // at a time: a long trace's text is several times the size of its data.
        const int number = r.traceNumber + static_cast<int>(k);
        const trace::TraceCommandResult result =
            byRecipe ? trace::RunTraceRecipe(session, *byRecipe, number, separator, states[k], {},
                                             trace::TraceTextUse::Streamed)
                     : trace::RunTraceCommand(session, context.ui, number, separator, states[k], {},
                                              trace::TraceTextUse::Streamed);
        if (!result.notice.empty())
            context.err << result.notice << '\n';
        noticed = noticed || !result.notice.empty();
        if (result.outcome != trace::TraceOutcome::Done) {
            context.err << result.status.error() << '\n';
            return kExitNoAnswer;
        }
    }
    if (r.touchstone) {
        if (const int code =
                deliverTouchstone(context, r, std::span(states).first(reads), identity);
            code != kExitDone)
            return code;
    }
    if (const int code = deliverTrace(context, r, states[0], separator); code != kExitDone)
        return code;
    return noticed ? kExitNoAnswer : kExitDone;
}

}  // namespace benchcap::cli
