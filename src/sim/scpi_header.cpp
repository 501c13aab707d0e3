#include "sim/scpi_header.h"

#include <cctype>
#include <cstdlib>

namespace benchcap::sim {
namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

// Upper case, with runs of blanks made one blank.
std::string upper(std::string_view s) {
    std::string out;
    for (char c : s) {
        if (isBlank(c) && !out.empty() && out.back() == ' ')
            continue;
        out.push_back(isBlank(c) ? ' '
                                 : static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    }
    return out;
}

// Splits at `separator` outside quotes (and outside `{...}` in a pattern), blanks trimmed.
std::vector<std::string_view> fields(std::string_view s, char separator, bool pattern) {
    std::vector<std::string_view> out;
    char quote = 0;
    int braces = 0;
    std::size_t from = 0;
    for (std::size_t i = 0; i <= s.size(); ++i) {
        const char c = i < s.size() ? s[i] : separator;
        if (quote) {
            quote = c == quote ? 0 : quote;
        } else if (c == '\'' || c == '"') {
            quote = c;
        } else if (pattern && (c == '{' || c == '}')) {
            braces += c == '{' ? 1 : -1;
        } else if (c == separator && braces == 0) {
            out.push_back(trim(s.substr(from, i - from)));
            from = i + 1;
        }
    }
    return out;
}

// Digits at the end of a mnemonic are its numeric suffix.
std::size_t suffixStart(std::string_view w) {
    std::size_t end = w.size();
    while (end > 0 && std::isdigit(static_cast<unsigned char>(w[end - 1])))
        --end;
    return end;
}

// A mnemonic as the manual writes it; false when it is none.
bool parseWord(std::string_view w, ScpiPattern::Word& out) {
    const std::size_t digits = suffixStart(w);
    if (digits == 0 || !std::isalpha(static_cast<unsigned char>(w[0])))
        return false;
    std::size_t capitals = 0;
    bool lower = false;
    for (std::size_t i = 0; i < digits; ++i) {
        const auto c = static_cast<unsigned char>(w[i]);
        if (!std::isalnum(c) && c != '_')
            return false;
        lower = lower || std::islower(c);
        if (!lower)
            capitals = i + 1;
    }
    out.longForm = upper(w.substr(0, digits));
    // Without lower-case letters, or starting with one, the word gives no short form.
    out.shortForm = lower && capitals > 0 ? out.longForm.substr(0, capitals) : out.longForm;
    out.suffix = std::string(w.substr(digits));
    return true;
}

std::string_view withoutZeros(std::string_view digits) {
    while (!digits.empty() && digits.front() == '0')
        digits.remove_prefix(1);
    return digits;
}

// A header node: the short or long form, and the same suffix (none stands for 1).
bool nodeMatches(const ScpiPattern::Word& w, std::string_view got) {
    const std::size_t digits = suffixStart(got);
    const std::string letters = upper(got.substr(0, digits));
    if (letters != w.longForm && letters != w.shortForm)
        return false;
    const std::string_view suffix = got.substr(digits);
    if (w.suffix.empty())
        return suffix.empty();
    return withoutZeros(suffix.empty() ? std::string_view("1") : suffix) == withoutZeros(w.suffix);
}

bool isNumber(std::string_view s, double& value) {
    if (s.empty() || !(std::isdigit(static_cast<unsigned char>(s[0])) || s[0] == '+' ||
                       s[0] == '-' || s[0] == '.'))
        return false;
    const std::string text(s);
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size();
}

bool parseValue(std::string_view s, ScpiPattern::Value& out) {
    using Type = ScpiPattern::Value::Type;
    if (s.empty())
        return false;
    if (s[0] == '\'' || s[0] == '"') {
        if (s.size() < 2 || s.back() != s[0])
            return false;
        out.type = Type::String;
        out.text = upper(s.substr(1, s.size() - 2));
        return true;
    }
    if (isNumber(s, out.number)) {
        out.type = Type::Number;
        return true;
    }
    out.type = Type::Keyword;
    if (!parseWord(s, out.word))  // another token (a mark, a path) is taken as written
        out.word = {upper(s), upper(s), "", false};
    return true;
}

bool valueMatches(const ScpiPattern::Value& v, std::string_view got) {
    using Type = ScpiPattern::Value::Type;
    double number = 0;
    switch (v.type) {
        case Type::String:
            return got.size() >= 2 && (got[0] == '\'' || got[0] == '"') && got.back() == got[0] &&
                   upper(got.substr(1, got.size() - 2)) == v.text;
        case Type::Number:
            return isNumber(got, number) && number == v.number;
        case Type::Keyword: {
            const std::string g = upper(got);
            return g == v.word.longForm + v.word.suffix || g == v.word.shortForm + v.word.suffix;
        }
    }
    return false;
}

Error notPattern(std::string_view notation, const std::string& why) {
    return benchcap::fail(ErrorKind::BadData,
                          "'" + std::string(notation) + "' is no SCPI command: " + why);
}

}  // namespace

Result<ScpiPattern> ScpiPattern::parse(std::string_view notation, bool exactParameters) {
    ScpiPattern p;
    p.text_ = std::string(notation);
    const std::string_view all = trim(notation);
    std::size_t blank = 0;
    while (blank < all.size() && !isBlank(all[blank]))
        ++blank;
    std::string_view h = all.substr(0, blank);
    const std::string_view args = trim(all.substr(blank));
    p.checkParameters_ = exactParameters || !args.empty();
    for (std::string_view field :
         args.empty() ? std::vector<std::string_view>{} : fields(args, ',', true)) {
        std::vector<Value> choices;
        const bool braced = field.size() >= 2 && field.front() == '{' && field.back() == '}';
        for (std::string_view choice :
             braced ? fields(field.substr(1, field.size() - 2), '|', true) : std::vector{field}) {
            Value v;
            if (!parseValue(choice, v))
                return notPattern(notation, "parameter '" + std::string(field) + "' is empty");
            choices.push_back(std::move(v));
        }
        p.parameters_.push_back(std::move(choices));
    }
    if (!h.empty() && h[0] == '*') {
        p.common_ = upper(h);
        return p;
    }
    if (h.substr(0, 3) == "[:]")
        h.remove_prefix(3);
    if (!h.empty() && h.back() == '?') {
        p.query_ = true;
        h.remove_suffix(1);
    }
    while (!h.empty()) {
        if (h[0] == ':') {
            h.remove_prefix(1);
            continue;
        }
        Word w;
        std::string_view word;
        if (h[0] == '[') {
            const std::size_t close = h.find(']');
            if (close == std::string_view::npos)
                return notPattern(notation, "'[' without ']'");
            word = h.substr(1, close - 1);
            while (!word.empty() && word.front() == ':')
                word.remove_prefix(1);
            while (!word.empty() && word.back() == ':')
                word.remove_suffix(1);
            w.optional = true;
            h.remove_prefix(close + 1);
        } else {
            const std::size_t end = std::min(h.find(':'), h.find('['));
            word = h.substr(0, end);
            h.remove_prefix(std::min(end, h.size()));
        }
        if (!parseWord(word, w))
            return notPattern(notation, "'" + std::string(word) + "' is no mnemonic");
        p.nodes_.push_back(std::move(w));
    }
    if (p.nodes_.empty())
        return notPattern(notation, "no header");
    return p;
}

bool ScpiPattern::matchesHeader(std::string_view header) const {
    header = trim(header);
    if (!common_.empty())
        return upper(header) == common_;
    if (!header.empty() && header[0] == ':')
        header.remove_prefix(1);
    const bool query = !header.empty() && header.back() == '?';
    if (query != query_)
        return false;
    if (query)
        header.remove_suffix(1);
    std::vector<std::string> got;
    for (std::size_t from = 0;;) {
        const std::size_t colon = header.find(':', from);
        got.emplace_back(header.substr(from, colon - from));
        if (got.back().empty())
            return false;  // an empty node: "A::B", "A:"
        if (colon == std::string_view::npos)
            break;
        from = colon + 1;
    }
    return matchNodes(got, 0, 0);
}

bool ScpiPattern::matchNodes(const std::vector<std::string>& got, std::size_t at,
                             std::size_t node) const {
    if (node == nodes_.size())
        return at == got.size();
    if (at < got.size() && nodeMatches(nodes_[node], got[at]) && matchNodes(got, at + 1, node + 1))
        return true;
    return nodes_[node].optional && matchNodes(got, at, node + 1);
}

bool ScpiPattern::matches(std::string_view header, std::string_view args) const {
    if (!matchesHeader(header))
        return false;
    if (!checkParameters_)
        return true;
    args = trim(args);
    const std::vector<std::string_view> got =
        args.empty() ? std::vector<std::string_view>{} : fields(args, ',', false);
    if (got.size() != parameters_.size())
        return false;
    for (std::size_t i = 0; i < got.size(); ++i) {
        bool any = false;
        for (const Value& v : parameters_[i])
            any = any || valueMatches(v, got[i]);
        if (!any)
            return false;
    }
    return true;
}

std::vector<std::string> splitCommands(std::string_view message) {
    std::vector<std::string> out;
    std::string current;
    char quote = 0;
    for (char c : message) {
        if (quote) {
            if (c == quote)
                quote = 0;
        } else if (c == '\'' || c == '"') {
            quote = c;
        } else if (c == ';') {
            out.push_back(current);
            current.clear();
            continue;
        }
        current.push_back(c);
    }
    out.push_back(current);
    return out;
}

std::vector<std::string> scpiCommands(std::string_view message) {
    std::vector<std::string> out;
    std::string path;  // the nodes of the last header before its last one, with ':'
    for (const std::string& piece : splitCommands(message)) {
        const std::string_view command = trim(piece);
        if (command.empty())
            continue;
        if (command[0] == '*') {
            out.emplace_back(command);
            continue;
        }
        std::string full =
            command[0] == ':' ? std::string(command.substr(1)) : path + std::string(command);
        std::size_t headerEnd = 0;
        while (headerEnd < full.size() && !isBlank(full[headerEnd]))
            ++headerEnd;
        const std::size_t colon = full.rfind(':', headerEnd);
        path = colon == std::string::npos ? std::string() : full.substr(0, colon + 1);
        out.push_back(std::move(full));
    }
    return out;
}

}  // namespace benchcap::sim
