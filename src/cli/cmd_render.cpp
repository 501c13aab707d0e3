#include <QGuiApplication>
#include <QLoggingCategory>

#include <clocale>
#include <cstdlib>
#include <optional>
#include <ostream>

#include "cli/cli.h"
#include "hardcopy/picture/picture.h"

namespace benchcap::cli {
namespace {

// "WxH" with both sides 1..16384.
std::optional<QSize> parseSize(const std::string& text) {
    const auto x = text.find_first_of("xX");
    if (x == std::string::npos)
        return std::nullopt;
    const std::optional<int> w = parseBoundedInt(text.substr(0, x), 1, picture::kMaxRenderSide);
    const std::optional<int> h = parseBoundedInt(text.substr(x + 1), 1, picture::kMaxRenderSide);
    if (!w || !h)
        return std::nullopt;
    return QSize(*w, *h);
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
        context.err
            << "usage: benchcap-cli render IN.(wmf|bmp) -o OUT.png [--size WxH] [--strict]\n";
        return kExitUsage;
    }
    // Fonts and painting need a GUI application object; a headless program uses the
    // offscreen platform unless the caller chose one.
    int argc = 1;
    char name[] = "benchcap-cli";
    char* argv[] = {name, nullptr};
    std::optional<QGuiApplication> app;
    if (!QGuiApplication::instance()) {
        if (!std::getenv("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        app.emplace(argc, argv);
        std::setlocale(LC_NUMERIC, "C");  // Qt took the user's; our number texts must not
    }
    // A damaged image inside a picture is reported once, as the player's warning below;
    // the image decoders' own lines would only repeat it as noise on stderr.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.gui.imageio*=false"));
    const auto result = picture::renderToPng(in, out, size, strict);
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
