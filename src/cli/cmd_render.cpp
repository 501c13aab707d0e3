#include <QGuiApplication>
#include <QLoggingCategory>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <ostream>

#include "cli/cli.h"
#include "cli/picture_file.h"
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

struct Drawn {
    QSize size;
    std::vector<std::string> warnings;
};

// A picture (hardcopy or plot) as SVG or PDF: the same drawing the window shows, kept vector.
Result<Drawn> renderVector(const std::string& bytes, const std::string& in, const std::string& out,
                           PlotFileFormat format, QSize size, bool strict) {
    Result<picture::Picture> picture = picture::pictureFromBytes(bytes);
    if (!picture)
        return fail(in + ": " + picture.error());
    Drawn drawn{size.isEmpty() ? picture->naturalSize() : size, {}};
    Status written = writePictureFile(
        out, format, drawn.size, [&](QPainter& painter, const QRect& area) -> Status {
            picture::PlayResult played = picture->draw(painter, area);
            drawn.warnings = played.warnings;
            if (strict && !played.warnings.empty())
                return fail(in + " is damaged: " + played.warnings.front() +
                            "; no picture written");
            return Status{};
        });
    if (!written)
        return Error{written.error()};
    return drawn;
}

}  // namespace

int cmdRender(CliContext& context, const std::vector<std::string>& args) {
    // Paths stay the argument's bytes: a file name that is not UTF-8 names that file.
    std::string in;
    std::string out;
    QSize size;
    bool strict = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "-o" && i + 1 < args.size()) {
            out = args[++i];
        } else if (a == "--strict") {
            strict = true;
        } else if (a == "--size" && i + 1 < args.size()) {
            const auto s = parseSize(args[++i]);
            if (!s) {
                context.err << "benchcap-cli render: --size takes WIDTHxHEIGHT, each 1.."
                            << picture::kMaxRenderSide << ", not '" << args[i] << "'\n";
                return kExitUsage;
            }
            size = *s;
        } else if (in.empty() && !a.empty() && a[0] != '-') {
            in = a;
        } else {
            context.err << "benchcap-cli render: unexpected argument '" << a << "'\n";
            return kExitUsage;
        }
    }
    if (in.empty() || out.empty()) {
        context.err << "usage: benchcap-cli render IN.(wmf|bmp|hpgl) -o OUT.(png|svg|pdf) "
                       "[--size WxH] [--strict]\n";
        return kExitUsage;
    }
    const std::optional<PlotFileFormat> format = plotFileFormatFor(out);
    if (!format) {
        context.err << "benchcap-cli render: " << out
                    << ": the output is PNG, SVG or PDF, chosen by the name's extension\n";
        return kExitUsage;
    }
    const HeadlessGui gui;
    // A damaged image inside a picture is reported once, as the player's warning below;
    // the image decoders' own lines would only repeat it as noise on stderr.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.gui.imageio*=false"));
    Result<Drawn> result = Error{};
    if (*format == PlotFileFormat::Png) {
        Result<picture::RenderedFile> png = picture::renderToPng(in, out, size, strict);
        result = png ? Result<Drawn>(Drawn{png->size, png->warnings}) : Error{png.error()};
    } else if (const Result<std::string> bytes = readInput(in); !bytes) {
        result = Error{bytes.error()};
    } else {
        result = renderVector(*bytes, in, out, *format, size, strict);
    }
    if (!result) {
        context.err << "benchcap-cli render: " << result.error() << '\n';
        return kExitNoAnswer;
    }
    for (const std::string& warning : result->warnings)
        context.err << "benchcap-cli render: warning: " << in << ": " << warning << '\n';
    context.out << out << ": " << result->size.width() << "x" << result->size.height() << '\n';
    return kExitDone;
}

}  // namespace benchcap::cli
