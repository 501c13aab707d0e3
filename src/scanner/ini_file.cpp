#include "scanner/ini_file.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "base/output_file.h"

namespace benchcap::scanner {
namespace {

constexpr std::string_view kBlanks = " \t\r\v\f";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::string_view trim(std::string_view s) {
    const auto first = s.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return {};
    const auto last = s.find_last_not_of(kBlanks);
    return s.substr(first, last - first + 1);
}

char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lowerAscii(a[i]) != lowerAscii(b[i]))
            return false;
    }
    return true;
}

// What the profile call hands back for a stored value.
std::string profileValue(std::string_view stored) {
    std::string_view v = trim(stored);
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
        v = v.substr(1, v.size() - 2);
    }
    return std::string(v.substr(0, kIniValueMax));
}

std::string formatDouble(double value) {
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    std::string text = ec == std::errc() ? std::string(buffer, end) : std::string("0");
    for (char& c : text) {
        if (c == 'e')
            c = 'E';
    }
    return text;
}

bool hasLineBreak(std::string_view s) {
    return s.find_first_of("\r\n") != std::string_view::npos;
}

}  // namespace

std::string IniValue::defaultText() const {
    if (const auto* text = std::get_if<std::string>(&value_))
        return *text;
    if (const auto* flag = std::get_if<bool>(&value_))
        return *flag ? "True" : "False";
    if (const auto* whole = std::get_if<int64_t>(&value_)) {
        return (*whole < 0 ? "" : " ") + std::to_string(*whole);
    }
    const double number = std::get<double>(value_);
    return (number < 0 ? "" : " ") + formatDouble(number);
}

std::string IniValue::writeText() const {
    if (const auto* text = std::get_if<std::string>(&value_))
        return *text;
    if (const auto* flag = std::get_if<bool>(&value_))
        return *flag ? "1" : "0";
    if (const auto* whole = std::get_if<int64_t>(&value_))
        return std::to_string(*whole);
    return formatDouble(std::get<double>(value_));
}

IniDocument::IniDocument(std::string_view bytes, IniDialect dialect)
    : dialect_(dialect), lineEnd_(dialect.defaultLineEnd) {
    std::size_t start = 0;
    bool lineEndSeen = false;
    if (bytes.find('\n') == std::string_view::npos && bytes.ends_with('\r'))
        lineEnd_ = "\r\n";
    while (start < bytes.size()) {
        Line line;
        const auto lf = bytes.find('\n', start);
        if (lf == std::string_view::npos) {
            line.text = bytes.substr(start);
            start = bytes.size();
        } else {
            const bool crlf = lf > start && bytes[lf - 1] == '\r';
            line.text = bytes.substr(start, lf - start - (crlf ? 1 : 0));
            line.end = crlf ? "\r\n" : "\n";
            if (!lineEndSeen)
                lineEnd_ = line.end;
            lineEndSeen = true;
            start = lf + 1;
        }
        classify(line, lines_.empty());
        lines_.push_back(std::move(line));
    }
}

void IniDocument::classify(Line& line, bool firstLine) const {
    line.kind = Kind::Other;
    line.name.clear();
    line.valueAt = 0;
    std::string_view text = line.text;
    std::size_t offset = 0;
    if (firstLine && text.starts_with(kByteOrderMark))
        offset = kByteOrderMark.size();
    auto p = text.find_first_not_of(kBlanks, offset);
    if (p == std::string_view::npos)
        return;
    if (text[p] == '[') {
        const auto close = dialect_.sectionLineEndsWithBracket ? text.find_last_not_of(kBlanks)
                                                               : text.find(']', p + 1);
        if (close != std::string_view::npos && close > p && text[close] == ']') {
            line.kind = Kind::Section;
            line.name = trim(text.substr(p + 1, close - p - 1));
            return;
        }
    }
    if (!dialect_.markBeforeKey)
        p = text.find_first_not_of(kBlanks);
    if (dialect_.commentStarts.find(text[p]) != std::string_view::npos || text[p] == '[')
        return;
    const auto eq = text.find('=', p);
    if (eq == std::string_view::npos)
        return;
    const auto name = trim(text.substr(p, eq - p));
    if (name.empty())
        return;
    line.kind = Kind::Key;
    line.name = name;
    const auto value = text.find_first_not_of(kBlanks, eq + 1);
    line.valueAt = value == std::string_view::npos ? text.size() : value;
}

IniDocument::Line IniDocument::newLine(std::string text) const {
    Line line;
    line.text = std::move(text);
    line.end = lineEnd_;
    classify(line, false);
    return line;
}

void IniDocument::endLastLine() {
    if (!lines_.empty() && lines_.back().end.empty())
        lines_.back().end = lineEnd_;
}

std::optional<std::size_t> IniDocument::findSection(std::string_view section) const {
    const auto wanted = trim(section);
    if (wanted.empty())
        return std::nullopt;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (lines_[i].kind == Kind::Section && sameName(lines_[i].name, wanted))
            return i;
    }
    return std::nullopt;
}

std::size_t IniDocument::sectionEnd(std::size_t header) const {
    std::size_t i = header + 1;
    while (i < lines_.size() && lines_[i].kind != Kind::Section)
        ++i;
    return i;
}

std::vector<std::size_t> IniDocument::keyLines(std::string_view section,
                                               std::string_view key) const {
    std::vector<std::size_t> found;
    const auto header = findSection(section);
    const auto wanted = trim(key);
    if (!header || wanted.empty())
        return found;
    const auto wantedSection = trim(section);
    bool inSection = true;
    const std::size_t end = dialect_.repeatedSectionsMerge ? lines_.size() : sectionEnd(*header);
    for (std::size_t i = *header + 1; i < end; ++i) {
        const Line& line = lines_[i];
        if (line.kind == Kind::Section)
            inSection = sameName(line.name, wantedSection);
        else if (inSection && line.kind == Kind::Key && sameName(line.name, wanted))
            found.push_back(i);
    }
    return found;
}

std::string_view IniDocument::storedValue(std::size_t keyLine) const {
    const Line& line = lines_.at(keyLine);
    return trim(std::string_view(line.text).substr(line.valueAt));
}

void IniDocument::replaceLine(std::size_t at, std::string text) {
    Line& line = lines_.at(at);
    if (line.end.empty())
        line.end = line.text.ends_with('\r') ? "\r\n" : "\n";
    line.text = std::move(text);
    classify(line, at == 0);
}

void IniDocument::removeLine(std::size_t at) {
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(at));
}

void IniDocument::addKeyLine(std::string_view section, std::string text) {
    const auto header = findSection(section);
    if (!header) {
        endLastLine();
        if (dialect_.blankLineBeforeNewSection && !lines_.empty() &&
            !trim(lines_.back().text).empty())
            lines_.push_back(newLine(std::string()));
        lines_.push_back(newLine("[" + std::string(section) + "]"));
        lines_.push_back(newLine(std::move(text)));
        return;
    }
    const auto end = sectionEnd(*header);
    std::size_t insertAt = *header + 1;
    if (dialect_.addAfterLastNonBlank) {
        insertAt = end;
        while (insertAt > *header + 1 && trim(lines_[insertAt - 1].text).empty())
            --insertAt;
    } else {
        for (std::size_t i = *header + 1; i < end; ++i)
            if (lines_[i].kind == Kind::Key)
                insertAt = i + 1;
    }
    if (insertAt == lines_.size())
        endLastLine();
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAt), newLine(std::move(text)));
}

std::optional<std::string> IniDocument::get(std::string_view section, std::string_view key) const {
    const auto lines = keyLines(section, key);
    if (lines.empty())
        return std::nullopt;
    const Line& line = lines_[lines.front()];
    return profileValue(std::string_view(line.text).substr(line.valueAt));
}

std::string IniDocument::read(std::string_view section, std::string_view key,
                              const IniValue& defaultValue) const {
    if (auto value = get(section, key))
        return std::move(*value);
    // The profile call copies the default into the same buffer, without its trailing blanks.
    std::string text = defaultValue.defaultText();
    const auto last = text.find_last_not_of(' ');
    text.resize(last == std::string::npos ? 0 : last + 1);
    if (text.size() > kIniValueMax)
        text.resize(kIniValueMax);
    return text;
}

Status IniDocument::set(std::string_view section, std::string_view key, std::string_view value) {
    const auto sectionName = trim(section);
    const auto keyName = trim(key);
    if (sectionName.empty() || hasLineBreak(sectionName) ||
        sectionName.find(']') != std::string_view::npos) {
        return fail("Invalid section name \"" + std::string(section) + "\".");
    }
    if (keyName.empty() || hasLineBreak(keyName) || keyName.find('=') != std::string_view::npos ||
        keyName.front() == ';' || keyName.front() == '[') {
        return fail("Invalid key name \"" + std::string(key) + "\".");
    }
    if (hasLineBreak(value)) {
        return fail("The value of key \"" + std::string(keyName) + "\" holds a line break.");
    }

    // The value changes in place: the name and its blanks stay as written.
    if (const auto lines = keyLines(sectionName, keyName); !lines.empty()) {
        Line& line = lines_[lines.front()];
        line.text = line.text.substr(0, line.valueAt) + std::string(value);
        classify(line, lines.front() == 0);
        return {};
    }
    addKeyLine(sectionName, std::string(keyName) + "=" + std::string(value));
    return {};
}

std::string IniDocument::bytes() const {
    std::string out;
    for (const Line& line : lines_) {
        out += line.text;
        out += line.end;
    }
    return out;
}

IniFile LoadIniFile(const std::string& fileName) {
    IniFile result;
    std::FILE* file = std::fopen(fileName.c_str(), "rb");
    if (!file) {
        const int err = errno;
        result.missing = err == ENOENT;
        result.status =
            fail("Cannot read \"" + fileName + "\": " + std::generic_category().message(err) + ".");
        return result;
    }
    std::string bytes;
    char buffer[65536];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        bytes.append(buffer, n);
    const bool failed = std::ferror(file) != 0;
    const int err = errno;
    std::fclose(file);
    if (failed) {
        // A folder opens but does not read (EISDIR).
        result.status =
            fail("Cannot read \"" + fileName + "\": " + std::generic_category().message(err) + ".");
        return result;
    }
    result.document = IniDocument(bytes);
    return result;
}

Status SaveIniFile(const std::string& fileName, const IniDocument& document) {
    namespace fs = std::filesystem;
    fs::path target(fileName);
    // These files are configuration, often kept elsewhere and linked into place; replacing
    // the link by a plain file would quietly cut the user's setup off from its source. So
    // a link that resolves is written through, once, to the file it names (only at the
    // target: the temporary name is never followed). A dangling link is replaced, rather
    // than creating a file wherever it happens to point.
    std::error_code ec;
    if (fs::is_symlink(target, ec)) {
        if (fs::path real = fs::canonical(target, ec); !ec)
            target = std::move(real);
    }
    const Status written = writeOutputFile(target, document.bytes());
    if (!written && target != fs::path(fileName))
        return fail(written.error() + " (\"" + fileName + "\" links to it)");
    return written;
}

std::string ReadINI(const std::string& fileName, const std::string& section, const std::string& key,
                    const IniValue& defaultValue) {
    return LoadIniFile(fileName).document.read(section, key, defaultValue);
}

bool IniTextIsTrue(std::string_view text) {
    std::string upper(text);
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return upper == "1" || upper == "WAHR" || upper == "TRUE";
}

Status WriteINI(const std::string& fileName, const std::string& section, const std::string& key,
                const IniValue& value) {
    IniFile file = LoadIniFile(fileName);
    // A file we cannot read must not be replaced by one holding only this key.
    if (!file.status && !file.missing)
        return file.status;
    if (Status set = file.document.set(section, key, value.writeText()); !set)
        return fail("Cannot write \"" + fileName + "\": " + set.error());
    return SaveIniFile(fileName, file.document);
}

}  // namespace benchcap::scanner
