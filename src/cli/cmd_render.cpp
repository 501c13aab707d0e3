#include <QGuiApplication>
#include <QLoggingCategory>

#include <sys/stat.h>

#include <algorithm>
#include <clocale>
#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
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

// The player's warnings, page by page, as the user reads them: the plot's own (the player
// repeats them with every page, first) once, the rest naming their page. A warning every
// page happens to begin with is said once as well: it holds for the whole plot.
std::vector<std::string> warningLines(const std::vector<std::vector<std::string>>& pages) {
    const std::vector<std::string>& first = pages.front();
    size_t shared = first.size();
    for (const std::vector<std::string>& page : pages)
        shared = static_cast<size_t>(
            std::mismatch(first.begin(), first.begin() + static_cast<std::ptrdiff_t>(shared),
                          page.begin(), page.end())
                .first -
            first.begin());
    std::vector<std::string> lines(first.begin(),
                                   first.begin() + static_cast<std::ptrdiff_t>(shared));
    for (size_t page = 0; page < pages.size(); ++page)
        for (size_t i = shared; i < pages[page].size(); ++i)
            lines.push_back("page " + std::to_string(page + 1) + ": " + pages[page][i]);
    return lines;
}

// Why writing would replace the input (the same name, another spelling of it, a link to
// it, or a page file NAME-2.png that is the input), or nothing. Files are compared by
// device and inode, which no spelling of a name hides.
std::optional<std::string> outputOverInput(const std::string& in, const std::string& out,
                                           PlotFileFormat format, int pages) {
    struct stat input {};
    if (::stat(in.c_str(), &input) != 0)
        return std::nullopt;
    const std::vector<std::string> names = picture::pageFileNames(out, format, pages);
    for (size_t page = 0; page < names.size(); ++page) {
        struct stat output {};
        if (::stat(names[page].c_str(), &output) != 0 || output.st_dev != input.st_dev ||
            output.st_ino != input.st_ino)
            continue;
        if (page == 0)
            return out == in ? "the output is the input " + in
                             : "the output " + out + " is the input " + in;
        return "page " + std::to_string(page + 1) + " of the output " + out + " would go to " +
               (names[page] == in ? "the input " + in : names[page] + ", the input " + in);
    }
    return std::nullopt;
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
    // Fonts need a GUI application, and it costs: its platform plugin, and the font
    // configuration read at its end even when no text was drawn. A PNG of a plot or
    // metafile without text is drawn without one (the same pixels).
    std::optional<HeadlessGui> gui;
    if (format != PlotFileFormat::Png)
        gui.emplace();
    else
        useApplicationLocale();
    // A damaged image inside a picture is reported once, as the player's warning below;
    // the image decoders' own lines would only repeat it as noise on stderr.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.gui.imageio*=false"));
    Result<std::string> bytes = readInput(in);
    if (!bytes) {
        context.err << "benchcap-cli render: " << bytes.error() << '\n';
        return kExitNoAnswer;
    }
    if (!gui && picture::mayNeedFontsToLoad(*bytes))
        gui.emplace();
    const Result<picture::Picture> picture = picture::pictureFromBytes(std::move(bytes.value()));
    if (!picture) {
        context.err << "benchcap-cli render: " << in << ": " << picture.error() << '\n';
        return kExitNoAnswer;
    }
    if (!gui && picture->drawsText())
        gui.emplace();
    if (size.isEmpty())
        size = picture->naturalSize();
    if (size.width() > picture::kMaxRenderSide || size.height() > picture::kMaxRenderSide) {
        context.err << "benchcap-cli render: " << in << ": the picture is " << size.width() << "x"
                    << size.height() << " pixels, more than " << picture::kMaxRenderSide
                    << " per side; give a smaller --size\n";
        return kExitNoAnswer;
    }
    // Every page of a plot is written (PDF: one file; PNG, SVG: one file per page), none
    // of them over the input.
    const int pages = picture->pageCount();
    if (const std::optional<std::string> clash = outputOverInput(in, out, format, pages)) {
        context.err << "benchcap-cli render: " << *clash
                    << "; choose another name for the output\n";
        return kExitUsage;
    }
    if (const std::optional<std::string> named = out; !outputsUsable(context, "render", {&named}))
        return kExitUsage;
    // Once a stop is seen it holds, so that what is said below matches what was done.
    bool stopped = false;
    const std::function<bool()> stopRequested = [&stopped] {
        stopped = stopped || interruptRequested();
        return stopped;
    };
    std::vector<std::vector<std::string>> pageWarnings(static_cast<size_t>(std::max(pages, 1)));
    std::vector<std::string> warnings;
    const Result<std::vector<std::string>> written = picture::writePictureFiles(
        out, format, size, pages,
        [&](QPainter& painter, const QRect& area, int page) -> Status {
            const picture::PlayResult played = picture->draw(painter, area, {page, stopRequested});
            if (stopRequested())
                return fail("stopped by a signal");
            if (!played.status)
                return played.status;
            pageWarnings[static_cast<size_t>(page)] = played.warnings;
            if (page + 1 < pages)
                return Status{};
            // Only with every page drawn can the plot's own warnings be told from a page's.
            warnings = warningLines(pageWarnings);
            if (strict && !warnings.empty())
                return fail(in + " is damaged: " + warnings.front() +
                            (warnings.size() > 1 ? " (and more)" : "") + "; no picture written");
            return Status{};
        },
        stopRequested);
    if (!written && stopped) {
        context.err << "benchcap-cli render: stopped by a signal; no picture written\n";
        return 128 + interruptSignal();
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
    // A signal after the last check: the files are complete and in place, and the stop is
    // still passed on.
    if (const int signal = interruptSignal(); signal != 0) {
        context.err << "benchcap-cli render: stopped by a signal after the picture was written\n";
        return 128 + signal;
    }
    return kExitDone;
}

}  // namespace benchcap::cli
