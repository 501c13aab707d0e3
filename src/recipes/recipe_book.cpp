#include "recipes/recipe_book.h"

#include <re2/re2.h>
#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <set>
#include <sstream>
#include <system_error>
#include <utility>

namespace benchcap::recipes {
namespace {

constexpr char kShippedSource[] = "shipped recipes";

// What went wrong, where: the source and line, the row, the key.
struct Place {
    const std::string& source;
    std::string row;  // empty before the row has a name
    int line = -1;    // the row's, for keys that are missing
};

Error fault(const Place& at, const YAML::Node& node, const std::string& key,
            const std::string& what) {
    std::string text = at.source;
    const int line = node && node.Mark().line >= 0 ? node.Mark().line : at.line;
    if (line >= 0)
        text += " line " + std::to_string(line + 1);
    text += ": ";
    if (!at.row.empty())
        text += "recipe " + at.row + ", ";
    if (!key.empty())
        text += "key '" + key + "': ";
    return fail(ErrorKind::BadData, text + what);
}

Status checkKeys(const Place& at, const YAML::Node& map, const std::string& prefix,
                 std::initializer_list<const char*> known) {
    std::set<std::string> seen;
    for (const auto& kv : map) {
        const std::string key = kv.first.IsScalar() ? kv.first.as<std::string>() : "?";
        const bool ok =
            std::any_of(known.begin(), known.end(), [&key](const char* k) { return key == k; });
        if (!ok)
            return fault(at, kv.first, prefix + key, "unknown key");
        if (!seen.insert(key).second)
            return fault(at, kv.first, prefix + key, "given twice");
    }
    return {};
}

Result<std::string> text(const Place& at, const YAML::Node& node, const std::string& key,
                         bool required) {
    if (!node) {
        if (required)
            return fault(at, node, key, "missing");
        return std::string();
    }
    if (!node.IsScalar())
        return fault(at, node, key, "must be a text");
    std::string value = node.as<std::string>();
    if (value.size() > kMaxRecipeText)
        return fault(at, node, key,
                     "longer than " + std::to_string(kMaxRecipeText) + " characters");
    if (required && value.empty())
        return fault(at, node, key, "must not be empty");
    return value;
}

// A text sent to the instrument as one message. A line break or NUL inside would make it
// two messages on a raw socket (or cut it short), so it is refused where it is read.
Result<std::string> command(const Place& at, const YAML::Node& node, const std::string& key,
                            bool required) {
    Result<std::string> value = text(at, node, key, required);
    if (value && value->find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos)
        return fault(at, node, key,
                     "a command must not hold a line break or NUL (CR, LF, NUL); write one "
                     "command per list item");
    return value;
}

Result<std::vector<std::string>> commands(const Place& at, const YAML::Node& node,
                                          const std::string& key) {
    std::vector<std::string> out;
    if (!node)
        return out;
    if (node.IsScalar()) {
        Result<std::string> one = command(at, node, key, true);
        if (!one)
            return one.failure();
        out.push_back(*one);
        return out;
    }
    if (!node.IsSequence())
        return fault(at, node, key, "must be a command or a list of commands");
    if (node.size() > kMaxCommandsPerStep)
        return fault(at, node, key,
                     "more than " + std::to_string(kMaxCommandsPerStep) + " commands");
    for (const auto& item : node) {
        Result<std::string> one = command(at, item, key, true);
        if (!one)
            return one.failure();
        out.push_back(*one);
    }
    return out;
}

Result<Pattern> patternOf(const Place& at, const YAML::Node& node, const std::string& key,
                          const std::string& text) {
    if (text.size() > kMaxPatternText)
        return fault(at, node, key,
                     "longer than " + std::to_string(kMaxPatternText) + " characters");
    Result<Pattern> pattern = Pattern::compile(text);
    if (!pattern)
        return fault(at, node, key,
                     "not a valid regular expression in RE2 syntax (" + pattern.error() +
                         "); RE2 has no backreferences or lookaround");
    return pattern;
}

template <class T>
Result<T> choice(const Place& at, const YAML::Node& node, const std::string& key,
                 std::initializer_list<std::pair<const char*, T>> options, T fallback) {
    if (!node)
        return fallback;
    std::string names;
    if (node.IsScalar()) {
        const std::string value = node.as<std::string>();
        for (const auto& option : options) {
            if (value == option.first)
                return option.second;
        }
    }
    for (const auto& option : options)
        names += std::string(names.empty() ? "" : ", ") + option.first;
    return fault(at, node, key, "must be one of " + names);
}

Result<double> seconds(const Place& at, const YAML::Node& node, const std::string& key,
                       double fallback) {
    if (!node)
        return fallback;
    double value = -1;
    try {
        value = node.as<double>();
    } catch (const YAML::Exception&) {
        return fault(at, node, key, "must be a number of seconds");
    }
    if (!std::isfinite(value) || value < 0 || value > kMaxTimeoutSeconds)
        return fault(at, node, key,
                     "must lie in 0.." + std::to_string(static_cast<int>(kMaxTimeoutSeconds)));
    return value;
}

Result<Framing> framingOf(const Place& at, const YAML::Node& node, const std::string& key) {
    return choice<Framing>(
        at, node, key, {{"block", Framing::Block}, {"end", Framing::End}, {"raw", Framing::Raw}},
        Framing::Block);
}

Status parseWait(const Place& at, const YAML::Node& node, Wait& wait) {
    if (!node)
        return {};
    if (node.IsScalar()) {
        Result<Wait::Kind> kind = choice<Wait::Kind>(
            at, node, "screen.wait", {{"none", Wait::Kind::None}, {"opc", Wait::Kind::Opc}},
            Wait::Kind::None);
        if (!kind)
            return kind.failure();
        wait.kind = *kind;
        return {};
    }
    if (!node.IsMap())
        return fault(at, node, "screen.wait", "must be none, opc, {poll, until} or {delay_s}");
    if (Status keys = checkKeys(at, node, "screen.wait.", {"poll", "until", "delay_s"}); !keys)
        return keys;
    if (node["delay_s"]) {
        Result<double> delay = seconds(at, node["delay_s"], "screen.wait.delay_s", 0);
        if (!delay)
            return delay.failure();
        wait.kind = Wait::Kind::Delay;
        wait.delaySeconds = *delay;
        return {};
    }
    Result<std::string> query = command(at, node["poll"], "screen.wait.poll", true);
    if (!query)
        return query.failure();
    Result<std::string> until = text(at, node["until"], "screen.wait.until", true);
    if (!until)
        return until.failure();
    Result<Pattern> pattern = patternOf(at, node["until"], "screen.wait.until", *until);
    if (!pattern)
        return pattern.failure();
    wait.kind = Wait::Kind::Poll;
    wait.query = *query;
    wait.until = std::move(*pattern);
    return {};
}

Status parseFetch(const Place& at, const YAML::Node& node, Fetch& fetch) {
    if (!node || (node.IsScalar() && node.as<std::string>() == "query"))
        return {};
    if (!node.IsMap())
        return fault(at, node, "screen.fetch", "must be query or {save, read, delete}");
    if (Status keys = checkKeys(at, node, "screen.fetch.", {"save", "read", "delete"}); !keys)
        return keys;
    Result<std::string> save = command(at, node["save"], "screen.fetch.save", false);
    Result<std::string> read = command(at, node["read"], "screen.fetch.read", true);
    Result<std::string> remove = command(at, node["delete"], "screen.fetch.delete", false);
    for (const auto* r : {&save, &read, &remove}) {
        if (!*r)
            return r->failure();
    }
    fetch = Fetch{Fetch::Kind::File, *save, *read, *remove};
    return {};
}

Status parseScreen(const Place& at, const YAML::Node& node, Screen& screen) {
    if (!node)
        return fault(at, node, "screen", "missing");
    if (!node.IsMap())
        return fault(at, node, "screen", "must be a mapping");
    if (Status keys = checkKeys(
            at, node, "screen.",
            {"prepare", "produce", "wait", "fetch", "framing", "format", "restore", "timeout_s"});
        !keys)
        return keys;
    Result<std::vector<std::string>> prepare = commands(at, node["prepare"], "screen.prepare");
    if (!prepare)
        return prepare.failure();
    Result<std::string> produce = command(at, node["produce"], "screen.produce", true);
    if (!produce)
        return produce.failure();
    Result<std::vector<std::string>> restore = commands(at, node["restore"], "screen.restore");
    if (!restore)
        return restore.failure();
    Result<Framing> framing = framingOf(at, node["framing"], "screen.framing");
    if (!framing)
        return framing.failure();
    Result<PictureType> format = choice<PictureType>(at, node["format"], "screen.format",
                                                     {{"PNG", PictureType::Png},
                                                      {"BMP", PictureType::Bmp},
                                                      {"GIF", PictureType::Gif},
                                                      {"JPEG", PictureType::Jpeg},
                                                      {"TIFF", PictureType::Tiff},
                                                      {"WMF", PictureType::Wmf}},
                                                     PictureType::Png);
    if (!format)
        return format.failure();
    if (!node["format"])
        return fault(at, node, "screen.format", "missing");
    Result<double> timeout = seconds(at, node["timeout_s"], "screen.timeout_s", 10);
    if (!timeout)
        return timeout.failure();
    screen.prepare = std::move(*prepare);
    screen.produce = std::move(*produce);
    screen.restore = std::move(*restore);
    screen.framing = *framing;
    screen.format = *format;
    screen.timeoutSeconds = std::max(*timeout, 0.1);
    if (Status wait = parseWait(at, node["wait"], screen.wait); !wait)
        return wait;
    return parseFetch(at, node["fetch"], screen.fetch);
}

Result<Trace> parseTrace(const Place& at, const YAML::Node& node) {
    if (!node.IsMap())
        return fault(at, node, "trace", "must be a mapping");
    if (Status keys = checkKeys(at, node, "trace.",
                                {"query", "prepare", "format", "byte_order", "framing", "start",
                                 "stop", "step", "traces"});
        !keys)
        return keys.failure();
    Trace trace;
    Result<std::string> query = command(at, node["query"], "trace.query", true);
    if (!query)
        return query.failure();
    Result<std::vector<std::string>> prepare = commands(at, node["prepare"], "trace.prepare");
    if (!prepare)
        return prepare.failure();
    Result<Trace::Format> format = choice<Trace::Format>(at, node["format"], "trace.format",
                                                         {{"ascii", Trace::Format::Ascii},
                                                          {"real32", Trace::Format::Real32},
                                                          {"real64", Trace::Format::Real64}},
                                                         Trace::Format::Ascii);
    if (!format)
        return format.failure();
    Result<bool> big = choice<bool>(at, node["byte_order"], "trace.byte_order",
                                    {{"little", false}, {"big", true}}, false);
    if (!big)
        return big.failure();
    Result<Framing> framing = framingOf(at, node["framing"], "trace.framing");
    if (!framing)
        return framing.failure();
    Result<std::string> start = command(at, node["start"], "trace.start", false);
    Result<std::string> stop = command(at, node["stop"], "trace.stop", false);
    Result<std::string> step = command(at, node["step"], "trace.step", false);
    for (const auto* r : {&start, &stop, &step}) {
        if (!*r)
            return r->failure();
    }
    if (!stop->empty() && !step->empty())
        return fault(at, node, "trace", "give stop or step, not both");
    if ((!stop->empty() || !step->empty()) && start->empty())
        return fault(at, node, "trace.start", "missing (stop and step need a start)");
    if (const YAML::Node count = node["traces"]) {
        int value = 0;
        try {
            value = count.as<int>();
        } catch (const YAML::Exception&) {
            value = 0;
        }
        if (value < 1 || value > kMaxTraceCount)
            return fault(at, count, "trace.traces",
                         "must be a whole number in 1.." + std::to_string(kMaxTraceCount));
        trace.traces = value;
    }
    trace.query = *query;
    trace.prepare = std::move(*prepare);
    trace.format = *format;
    trace.bigEndian = *big;
    trace.framing = *framing;
    trace.start = *start;
    trace.stop = *stop;
    trace.step = *step;
    return trace;
}

Result<Recipe> parseRow(const std::string& source, const YAML::Node& node, std::size_t index) {
    Place at{source, {}, node.Mark().line};
    if (!node.IsMap())
        return fault(at, node, "", "row " + std::to_string(index + 1) + " is not a mapping");
    Result<std::string> name = text(at, node["name"], "name", true);
    if (!name)
        return fault(at, node, "name", "row " + std::to_string(index + 1) + " has no name");
    at.row = *name;
    if (Status keys =
            checkKeys(at, node, "", {"name", "match", "kind", "example_idn", "screen", "trace"});
        !keys)
        return keys.failure();
    Recipe recipe;
    recipe.name = *name;
    recipe.origin = source;
    Result<std::string> match = text(at, node["match"], "match", true);
    if (!match)
        return match.failure();
    Result<Pattern> matcher = patternOf(at, node["match"], "match", *match);
    if (!matcher)
        return matcher.failure();
    Result<std::string> kind = text(at, node["kind"], "kind", true);
    if (!kind)
        return kind.failure();
    Result<std::string> example = text(at, node["example_idn"], "example_idn", false);
    if (!example)
        return example.failure();
    if (example->size() > kMaxPatternText)
        return fault(at, node["example_idn"], "example_idn",
                     "longer than " + std::to_string(kMaxPatternText) + " characters");
    recipe.match = *match;
    recipe.matcher = std::move(*matcher);
    recipe.kind = *kind;
    recipe.exampleIdn = *example;
    if (!recipe.exampleIdn.empty() && !recipe.matcher.search(recipe.exampleIdn))
        return fault(at, node["example_idn"], "example_idn", "the row's match does not take it");
    if (Status screen = parseScreen(at, node["screen"], recipe.screen); !screen)
        return screen.failure();
    if (node["trace"]) {
        Result<Trace> trace = parseTrace(at, node["trace"]);
        if (!trace)
            return trace.failure();
        recipe.trace = std::move(*trace);
    }
    return recipe;
}

std::string_view trimmedIdn(std::string_view idn) {
    if (const auto nul = idn.find('\0'); nul != std::string_view::npos)
        idn = idn.substr(0, nul);
    while (!idn.empty() && (idn.back() == '\n' || idn.back() == '\r' || idn.back() == ' '))
        idn.remove_suffix(1);
    while (!idn.empty() && idn.front() == ' ')
        idn.remove_prefix(1);
    return idn;
}

}  // namespace

Result<Pattern> Pattern::compile(const std::string& text) {
    // Latin-1: the pattern and the answer are taken byte by byte, so an answer that is not
    // UTF-8 is matched all the same. Errors go into the message, not to stderr.
    RE2::Options options(RE2::Latin1);
    options.set_log_errors(false);
    auto re = std::make_shared<const RE2>(text, options);
    if (!re->ok())
        return fail(ErrorKind::BadData, re->error());
    Pattern pattern;
    pattern.text_ = text;
    pattern.re_ = std::move(re);
    return pattern;
}

bool Pattern::search(std::string_view answer) const {
    if (!re_)
        return false;
    answer = answer.substr(0, kMaxMatchedText);
    return RE2::PartialMatch(re2::StringPiece(answer.data(), answer.size()), *re_);
}

Result<RecipeBook> RecipeBook::parse(std::string_view yamlText, const std::string& source) {
    if (yamlText.size() > kMaxRecipeFileBytes)
        return fail(ErrorKind::BadData, source + ": larger than " +
                                            std::to_string(kMaxRecipeFileBytes >> 10) +
                                            " KB; a recipe file is a short list of rows");
    YAML::Node root;
    try {
        root = YAML::Load(std::string(yamlText));
    } catch (const YAML::Exception& e) {
        return fail(ErrorKind::BadData, source + " line " + std::to_string(e.mark.line + 1) +
                                            ": not valid YAML (" + e.msg + ")");
    }
    RecipeBook book;
    if (!root || root.IsNull())
        return book;
    const Place top{source, {}, 0};
    if (!root.IsMap() || !root["recipes"])
        return fault(top, root, "", "a recipe file is a mapping with the key 'recipes'");
    if (Status keys = checkKeys(top, root, "", {"recipes"}); !keys)
        return keys.failure();
    const YAML::Node rows = root["recipes"];
    if (rows.IsNull())
        return book;
    if (!rows.IsSequence())
        return fault(top, rows, "recipes", "must be a list of rows");
    if (rows.size() > kMaxRecipes)
        return fault(top, rows, "recipes", "more than " + std::to_string(kMaxRecipes) + " rows");
    try {
        for (std::size_t i = 0; i < rows.size(); ++i) {
            Result<Recipe> row = parseRow(source, rows[i], i);
            if (!row)
                return row.failure();
            if (book.named(row->name))
                return fault(Place{source, row->name}, rows[i], "name", "given to two rows");
            book.rows_.push_back(std::move(*row));
        }
    } catch (const YAML::Exception& e) {
        return fail(ErrorKind::BadData,
                    source + " line " + std::to_string(e.mark.line + 1) + ": " + e.msg);
    }
    return book;
}

Result<RecipeBook> RecipeBook::shipped() {
    return parse(shippedRecipesText(), kShippedSource);
}

Result<RecipeBook> RecipeBook::load(const std::filesystem::path& configFolder) {
    Result<RecipeBook> book = shipped();
    if (!book)
        return book;
    const std::filesystem::path user = configFolder / kUserRecipesFile;
    std::error_code ec;
    if (configFolder.empty() || !std::filesystem::exists(user, ec))
        return book;
    const auto size = std::filesystem::file_size(user, ec);
    if (ec || size > kMaxRecipeFileBytes)
        return fail(
            ErrorKind::File,
            "cannot read " + user.string() +
                (ec ? ": " + ec.message()
                    : ": larger than " + std::to_string(kMaxRecipeFileBytes >> 10) + " KB") +
                ". Fix or remove the file.");
    std::ifstream in(user, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    if (!in && !in.eof())
        return fail(ErrorKind::File, "cannot read " + user.string() + ". Fix or remove the file.");
    Result<RecipeBook> own = parse(content.str(), user.string());
    if (!own)
        return fail(own.errorKind(), own.error() + ". Fix the row or remove it from the file.");
    book->merge(*own);
    return book;
}

void RecipeBook::merge(const RecipeBook& other) {
    for (const Recipe& row : other.rows_) {
        auto same = std::find_if(rows_.begin(), rows_.end(),
                                 [&row](const Recipe& r) { return r.name == row.name; });
        if (same != rows_.end())
            *same = row;
        else
            rows_.push_back(row);
    }
}

const Recipe* RecipeBook::match(std::string_view idnAnswer) const {
    const std::string_view idn = trimmedIdn(idnAnswer);
    if (idn.empty())
        return nullptr;
    for (const Recipe& row : rows_) {
        if (row.matcher.search(idn))
            return &row;
    }
    return nullptr;
}

const Recipe* RecipeBook::named(std::string_view name) const {
    for (const Recipe& row : rows_) {
        if (row.name == name)
            return &row;
    }
    return nullptr;
}

std::string_view pictureTypeName(PictureType type) {
    switch (type) {
        case PictureType::Png:
            return "PNG";
        case PictureType::Bmp:
            return "BMP";
        case PictureType::Gif:
            return "GIF";
        case PictureType::Jpeg:
            return "JPEG";
        case PictureType::Tiff:
            return "TIFF";
        case PictureType::Wmf:
            return "WMF";
    }
    return "?";
}

std::optional<PictureType> pictureTypeOf(std::string_view head) {
    auto starts = [head](std::string_view magic) { return head.substr(0, magic.size()) == magic; };
    using namespace std::string_view_literals;
    if (starts("\x89PNG\r\n\x1a\n"sv))
        return PictureType::Png;
    if (starts("BM"sv))
        return PictureType::Bmp;
    if (starts("GIF87a"sv) || starts("GIF89a"sv))
        return PictureType::Gif;
    if (starts("\xff\xd8\xff"sv))
        return PictureType::Jpeg;
    if (starts("II*\0"sv) || starts("MM\0*"sv))
        return PictureType::Tiff;
    // A placeable metafile, or a bare one in memory (type 1) or on disk (type 2).
    if (starts("\xd7\xcd\xc6\x9a"sv) || starts("\x01\x00\x09\x00"sv) ||
        starts("\x02\x00\x09\x00"sv))
        return PictureType::Wmf;
    return std::nullopt;
}

std::string benchEntryFor(const Recipe& recipe, int address) {
    const Screen& s = recipe.screen;
    YAML::Emitter out;
    out << YAML::Flow << YAML::BeginMap;
    out << YAML::Key << "address" << YAML::Value << address;
    out << YAML::Key << "kind" << YAML::Value << "recipe";
    out << YAML::Key << "recipe" << YAML::Value << recipe.name;
    out << YAML::Key << "idn" << YAML::Value << recipe.exampleIdn;
    out << YAML::Key << "produce" << YAML::Value << s.produce;
    if (s.fetch.kind == Fetch::Kind::File) {
        if (!s.fetch.save.empty())
            out << YAML::Key << "save" << YAML::Value << s.fetch.save;
        out << YAML::Key << "read" << YAML::Value << s.fetch.read;
        if (!s.fetch.remove.empty())
            out << YAML::Key << "delete" << YAML::Value << s.fetch.remove;
    }
    if (s.wait.kind == Wait::Kind::Poll) {
        // The instrument answers "busy" once, then "done": the first of these answers the
        // row's `until` takes, and the first it does not.
        std::string busy, done;
        for (const char* answer : {"0", "1", "+1", "+0", "READY", "DONE", "BUSY"}) {
            std::string& slot = s.wait.until.search(answer) ? done : busy;
            if (slot.empty())
                slot = answer;
        }
        out << YAML::Key << "poll" << YAML::Value << s.wait.query;
        out << YAML::Key << "poll_busy" << YAML::Value << busy;
        out << YAML::Key << "poll_done" << YAML::Value << done;
    }
    static constexpr const char* framings[] = {"block", "end", "raw"};
    out << YAML::Key << "framing" << YAML::Value << framings[static_cast<int>(s.framing)];
    out << YAML::Key << "format" << YAML::Value << std::string(pictureTypeName(s.format));
    std::vector<std::string> accepts = s.prepare;
    accepts.insert(accepts.end(), s.restore.begin(), s.restore.end());
    if (!accepts.empty())
        out << YAML::Key << "accepts" << YAML::Value << accepts;
    if (recipe.trace) {
        const Trace& t = *recipe.trace;
        static constexpr const char* formats[] = {"ascii", "real32", "real64"};
        out << YAML::Key << "traces" << YAML::Value << t.traces;
        out << YAML::Key << "trace_query" << YAML::Value << t.query;
        out << YAML::Key << "trace_format" << YAML::Value << formats[static_cast<int>(t.format)];
        out << YAML::Key << "trace_byte_order" << YAML::Value << (t.bigEndian ? "big" : "little");
        out << YAML::Key << "trace_framing" << YAML::Value << framings[static_cast<int>(t.framing)];
        for (const auto& [key, query] :
             {std::pair{"trace_start", &t.start}, std::pair{"trace_stop", &t.stop},
              std::pair{"trace_step", &t.step}}) {
            if (!query->empty())
                out << YAML::Key << key << YAML::Value << *query;
        }
        if (!t.prepare.empty())
            out << YAML::Key << "trace_accepts" << YAML::Value << t.prepare;
    }
    out << YAML::EndMap;
    return out.c_str();
}

std::string withTraceNumber(std::string_view command, int traceNumber) {
    std::string out(command);
    const std::string number = std::to_string(traceNumber);
    const std::string_view mark = kTraceNumberMark;
    for (std::size_t at = out.find(mark); at != std::string::npos;
         at = out.find(mark, at + number.size()))
        out.replace(at, mark.size(), number);
    return out;
}

}  // namespace benchcap::recipes
