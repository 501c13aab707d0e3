#include <QGuiApplication>
#include <QLocale>
#include <QString>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <ostream>

#include "bus/identification.h"
#include "bus/session.h"
#include "cli/cli.h"
#include "cli/interrupt.h"
#include "cli/picture_file.h"
#include "office/uno_office.h"
#include "trace/plot/trace_plot.h"
#include "trace/trace_command.h"
#include "trace/trace_text.h"

namespace benchcap::cli {

char decimalSeparatorFor(const std::string& localeName) {
    if (localeName.empty() || localeName == "C" || localeName == "POSIX")
        return '.';
    const QString point = QLocale(QString::fromLatin1(localeName)).decimalPoint();
    if (point.size() == 1 && point.at(0).unicode() < 0x80)
        return static_cast<char>(point.at(0).unicode());
    return '.';  // a separator that is not one 8-bit character cannot go into the text
}

char decimalSeparatorFromEnvironment() {
    for (const char* variable : {"LC_ALL", "LC_NUMERIC", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value && *value)
            return decimalSeparatorFor(value);
    }
    return '.';
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

int cmdTrace(CliContext& context, const std::vector<std::string>& args) {
    const char* usageLine =
        "usage: benchcap-cli trace ADDRESS N [-o FILE] [--locale NAME] [--plot FILE.(png|svg|pdf) "
        "[--size WxH]] [--paste-spreadsheet]\n";
    std::optional<int> address;
    std::optional<int> traceNumber;
    std::optional<std::string> outputFile;
    std::optional<std::string> locale;
    std::optional<std::string> plotFile;
    std::optional<std::string> plotSizeText;
    bool pasteSpreadsheet = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "-o" || a == "--locale" || a == "--plot" || a == "--size") {
            if (i + 1 >= args.size()) {
                context.err << "benchcap-cli trace: " << a << " needs a value\n" << usageLine;
                return kExitUsage;
            }
            std::optional<std::string>& value = a == "-o"         ? outputFile
                                                : a == "--locale" ? locale
                                                : a == "--plot"   ? plotFile
                                                                  : plotSizeText;
            value = args[++i];
        } else if (a == "--paste-spreadsheet") {
            pasteSpreadsheet = true;
        } else if (!address) {
            address = addressArgument(context, "trace", a);
            if (!address)
                return kExitUsage;
        } else if (!traceNumber) {
            int n = 0;
            const auto [ptr, ec] = std::from_chars(a.data(), a.data() + a.size(), n);
            if (ec != std::errc() || ptr != a.data() + a.size()) {
                context.err << "benchcap-cli trace: the trace number must be a whole number, not '"
                            << a << "'\n";
                return kExitUsage;
            }
            traceNumber = n;
        } else {
            context.err << "benchcap-cli trace: unexpected argument '" << a << "'\n";
            return kExitUsage;
        }
    }
    if (!address || !traceNumber) {
        context.err << usageLine;
        return kExitUsage;
    }
    if (outputFile && outputFile->empty()) {
        context.err << "benchcap-cli trace: -o needs a file name\n";
        return kExitUsage;
    }
    std::optional<PlotFileFormat> plotFormat;
    if (plotFile) {
        plotFormat = plotFileFormatFor(*plotFile);
        if (!plotFormat) {
            context.err << "benchcap-cli trace: --plot writes PNG, SVG or PDF: name the file "
                           "with one of the extensions .png, .svg or .pdf, not '"
                        << *plotFile << "'\n";
            return kExitUsage;
        }
    }
    QSize plotSize = kDefaultPlotSize;
    if (plotSizeText) {
        const std::optional<QSize> size = parsePlotSize(*plotSizeText);
        if (!size || !plotFile) {
            context.err << "benchcap-cli trace: --size takes WIDTHxHEIGHT, each 1.."
                        << trace::kMaxPlotSide << ", for the picture of --plot, not '"
                        << *plotSizeText << "'\n";
            return kExitUsage;
        }
        plotSize = *size;
    }
    const char separator =
        locale ? decimalSeparatorFor(*locale) : decimalSeparatorFromEnvironment();
    bus::GpibDriver* driver = context.driver();
    if (!driver)
        return kExitUsage;

    // What InitDevice does: select the address, open, identify.
    bus::CurrentInstrument instrument;
    bus::Session session(*driver, instrument);
    session.setInterruptCheck(interruptRequested);
    session.SelectAndIdentify(0, static_cast<int16_t>(*address));
    if (instrument.ModelName == bus::kModelNoAnswer) {
        context.err << "No device was found on GPIB " << *address << '\n';
        return kExitNoAnswer;
    }

    // The boxes of the acquisition come back in the result; print each once.
    context.ui.setQuiet(true);
    trace::TraceState state;
    // The text goes from the table straight into the file or the pipe, a few megabytes at a
    // time: a long trace's text is several times the size of its data.
    const trace::TraceCommandResult result = trace::RunTraceCommand(
        session, context.ui, *traceNumber, separator, state, {}, trace::TraceTextUse::Streamed);
    if (!result.notice.empty())
        context.err << result.notice << '\n';
    if (result.outcome != trace::TraceOutcome::Done) {
        context.err << result.message << '\n';
        return kExitNoAnswer;
    }
    if (outputFile) {
        if (const Status written = trace::WriteTraceFile(*outputFile, state.field, separator);
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
    if (plotFile) {
        trace::PlotSummary drawn;
        if (const Status written = writePlot(*plotFile, *plotFormat, state.data, plotSize, drawn);
            !written) {
            context.err << written.error() << '\n';
            return kExitNoAnswer;
        }
        if (drawn.kind == trace::PlotKind::Blank) {
            context.err << "benchcap-cli trace: note: the plot " << *plotFile
                        << " is blank: " << blankPlotReason(drawn, state.data)
                        << "; a graph needs two different values\n";
        }
    }
    if (pasteSpreadsheet) {
        // Occupied cells get the question's safe answer from the unattended boxes: No.
        context.ui.setQuiet(false);
        office::LibreOfficeBridge office(context.ui);
        if (const office::PasteReport pasted = office.PasteInExcel(state.field); !pasted.ok()) {
            context.err << "benchcap-cli trace: " << pasted.message << '\n';
            return kExitNoAnswer;
        }
    }
    return result.notice.empty() ? kExitDone : kExitNoAnswer;
}

}  // namespace benchcap::cli
