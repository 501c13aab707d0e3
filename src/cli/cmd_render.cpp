#include <QGuiApplication>
#include <QLoggingCategory>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <ostream>
#include <variant>

#include "cli/cli.h"
#include "cli/command_options.h"
#include "cli/headless_picture.h"
#include "cli/interrupt.h"
#include "hardcopy/picture/picture.h"

namespace benchcap::cli {
namespace {

// "WxH" with both sides 1..16384.
std::optional<QSize> parseSize(const std::string& text) {
    const auto size = parseSizeText(text, picture::kMaxRenderSide);
    if (!size)
        return std::nullopt;
    return QSize(size->first, size->second);
}

// Larger input is no hardcopy or plot anyone captured.
constexpr std::uintmax_t kMaxInputBytes = 256u * 1024 * 1024;

Result<std::string> readInput(const std::string& in) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(in, ec);
    if (ec)
        return fail("cannot open " + in + ": " + ec.message());
    if (size > kMaxInputBytes)
        return fail(in + " is too large for a picture or plot");
    std::ifstream file(in, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (file.bad())
        return fail("cannot read " + in);
    return bytes;
}

std::string withPage(const std::string& text, int page, int pages) {
    return pages > 1 ? "page " + std::to_string(page + 1) + ": " + text : text;
}

}  // namespace

namespace {

// What `render` was asked to do, checked.
struct RenderRequest {
    std::string in;
    std::string out;
    PlotFileFormat format = PlotFileFormat::Png;
    QSize size;  // empty: the picture's own
    bool strict = false;
};

// The request, or the exit code after the help or what is wrong with the arguments.
std::variant<RenderRequest, int> parseRenderRequest(CliContext& context,
                                                    const std::vector<std::string>& args) {
    // Paths stay the argument's bytes: a file name that is not UTF-8 names that file.
    RenderRequest r;
    std::string& in = r.in;
    std::optional<std::string> outText;
    std::optional<std::string> sizeText;
    CommandOptions options("render");
    options.argument("IN", in, "the picture or plot: WMF, BMP or HP-GL, told by content")
        .value("-o", outText, "OUT.(png|svg|pdf)", "the output, its format by the extension")
        .value("--size", sizeText, "WxH", "the size of the output picture")
        .flag("--strict", r.strict, "fail on anything the player had to skip");
    if (const std::optional<int> done = options.parse(context.out, context.err, args))
        return *done;
    if (sizeText) {
        const auto s = parseSize(*sizeText);
        if (!s) {
            context.err << "benchcap-cli render: --size takes WIDTHxHEIGHT, each 1.."
                        << picture::kMaxRenderSide << ", not '" << *sizeText << "'\n";
            return kExitUsage;
        }
        r.size = *s;
    }
    r.out = outText.value_or("");
    const std::string& out = r.out;
    if (in.empty() || out.empty()) {
        context.err << "usage: benchcap-cli render IN.(wmf|bmp|hpgl) -o OUT.(png|svg|pdf) "
                       "[--size WxH] [--strict]\n"
                       "  A plot of several pages: a PDF holds them all; PNG and SVG write "
                       "the first to OUT and the others to OUT-2.png, OUT-3.png, ...\n";
        return kExitUsage;
    }
    const std::optional<PlotFileFormat> format = plotFileFormatFor(out);
    if (!format) {
        context.err << "benchcap-cli render: " << out
                    << ": the output is PNG, SVG or PDF, chosen by the name's extension\n";
        return kExitUsage;
    }
    r.format = *format;
    return r;
}

}  // namespace

int cmdRender(CliContext& context, const std::vector<std::string>& args) {
    std::variant<RenderRequest, int> parsed = parseRenderRequest(context, args);
    if (const int* done = std::get_if<int>(&parsed))
        return *done;
    const RenderRequest& r = std::get<RenderRequest>(parsed);
    const std::string& in = r.in;
    const std::string& out = r.out;
    const PlotFileFormat format = r.format;
    const bool strict = r.strict;
    QSize size = r.size;
    const HeadlessGui gui;
    // A damaged image inside a picture is reported once, as the player's warning below;
    // the image decoders' own lines would only repeat it as noise on stderr.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.gui.imageio*=false"));
    Result<std::string> bytes = readInput(in);
    if (!bytes) {
        context.err << "benchcap-cli render: " << bytes.error() << '\n';
        return kExitNoAnswer;
    }
    const Result<picture::Picture> picture = picture::pictureFromBytes(std::move(bytes.value()));
    if (!picture) {
        context.err << "benchcap-cli render: " << in << ": " << picture.error() << '\n';
        return kExitNoAnswer;
    }
    if (size.isEmpty())
        size = picture->naturalSize();
    if (size.width() > picture::kMaxRenderSide || size.height() > picture::kMaxRenderSide) {
        context.err << "benchcap-cli render: " << in << ": the picture is " << size.width() << "x"
                    << size.height() << " pixels, more than " << picture::kMaxRenderSide
                    << " per side; give a smaller --size\n";
        return kExitNoAnswer;
    }
    // Every page of a plot is written (PDF: one file; PNG, SVG: one file per page).
    const int pages = picture->pageCount();
    std::vector<std::string> warnings;
    const Result<std::vector<std::string>> written = picture::writePictureFiles(
        out, format, size, pages, [&](QPainter& painter, const QRect& area, int page) -> Status {
            const picture::PlayResult played =
                picture->draw(painter, area, {page, [] { return interruptRequested(); }});
            if (interruptRequested())
                return fail("stopped by a signal");
            if (!played.status)
                return played.status;
            for (const std::string& warning : played.warnings)
                warnings.push_back(withPage(warning, page, pages));
            if (strict && !played.warnings.empty())
                return fail(in + " is damaged: " + warnings.front() +
                            (warnings.size() > 1 ? " (and more)" : "") + "; no picture written");
            return Status{};
        });
    if (const int signal = interruptSignal(); signal != 0) {
        context.err << "benchcap-cli render: stopped by a signal; no picture written\n";
        return 128 + signal;
    }
    if (!written) {
        context.err << "benchcap-cli render: " << written.error() << '\n';
        return kExitNoAnswer;
    }
    for (const std::string& warning : warnings)
        context.err << "benchcap-cli render: warning: " << in << ": " << warning << '\n';
    const std::string dimensions =
        std::to_string(size.width()) + "x" + std::to_string(size.height());
    if (format == PlotFileFormat::Pdf && pages > 1)
        context.out << out << ": " << dimensions << ", " << pages << " pages\n";
    else
        for (const std::string& name : *written)
            context.out << name << ": " << dimensions << '\n';
    return kExitDone;
}

}  // namespace benchcap::cli
