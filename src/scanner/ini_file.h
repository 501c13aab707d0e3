#pragma once

// Private-profile (INI) files read and written key by key, the way the Windows profile
// calls do: bracketed section lines, key=value lines, names compared without regard to
// case or surrounding blanks. Unlike a settings library we keep every other byte of the
// file as it stood (comments, blank lines, key order, line ends), because these files are
// shared with other tools and edited by hand.

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include "base/result.h"
#include "bus/number.h"

namespace benchcap::scanner {

// Longest value a read returns: the profile buffer holds 750 characters with its terminator.
inline constexpr std::size_t kIniValueMax = 749;

// A value handed to ReadINI (as default) or WriteINI: text, Boolean or number.
class IniValue {
  public:
    IniValue(std::string text) : value_(std::move(text)) {}
    IniValue(const char* text) : value_(std::string(text ? text : "")) {}
    IniValue(bool value) : value_(value) {}
    template <std::integral T>
    requires(!std::same_as<T, bool>) IniValue(T number) : value_(static_cast<int64_t>(number)) {}
    template <std::floating_point T>
    IniValue(T number) : value_(static_cast<double>(number)) {}

    // As a ReadINI default: numbers get a leading blank when not negative (" 0", "-5"),
    // which reads back as the same number; Booleans are "True" / "False".
    std::string defaultText() const;
    // As WriteINI stores it: Booleans "1" / "0", numbers without blanks, texts unchanged.
    std::string writeText() const;

  private:
    std::variant<std::string, bool, int64_t, double> value_;
};

// How a file's lines are read and edited. The defaults are the profile calls' rules;
// settingsFile() are those of the settings library a per-user settings file is shared with.
struct IniDialect {
    // Characters that, as a line's first non-blank, make it a comment.
    std::string_view commentStarts = ";";
    // A section line ends with its ']' (else the name ends at the first ']' and the rest of
    // the line is ignored).
    bool sectionLineEndsWithBracket = false;
    // The first line's UTF-8 byte-order mark is skipped before a key too, not only before a
    // section.
    bool markBeforeKey = true;
    // A section named again continues the first one (else only the first one counts).
    bool repeatedSectionsMerge = false;
    // An added key goes after the section's last line that is not blank (else after its last
    // key line).
    bool addAfterLastNonBlank = false;
    // A section added at the end is parted from a line before it by a blank line.
    bool blankLineBeforeNewSection = false;
    // How lines end in a file that has none yet.
    std::string_view defaultLineEnd = "\r\n";

    static constexpr IniDialect settingsFile() {
        return {.commentStarts = "#;",
                .sectionLineEndsWithBracket = true,
                .markBeforeKey = false,
                .repeatedSectionsMerge = true,
                .addAfterLastNonBlank = true,
                .blankLineBeforeNewSection = true,
                .defaultLineEnd = "\n"};
    }
};

// A profile file as its lines. Only the line a `set` edits (or the lines it adds) change;
// `bytes()` of an unedited document is the parsed input, byte for byte.
//
// Line model: a line whose first non-blank character is ';' is a comment; one starting with
// '[' and holding a ']' is a section header (the name is between '[' and the first ']');
// one holding '=' with a non-empty name before it is a key. Anything else is kept but has no
// meaning. Keys before the first section belong to none. When a section or key appears
// twice, the first one counts. A UTF-8 byte-order mark at the start of the file is skipped.
//
// New lines end like the first line end of the file; a file without any line end gets CR LF,
// the ending of the platform these files come from (CR LF as well after a last line ending in
// CR). Another dialect changes these rules where it says so.
class IniDocument {
  public:
    IniDocument() = default;
    explicit IniDocument(std::string_view bytes, IniDialect dialect = {});

    // The value as a profile read returns it: without surrounding blanks, without one pair
    // of enclosing double or single quotes, cut at kIniValueMax characters. nullopt when the
    // section or key is missing.
    std::optional<std::string> get(std::string_view section, std::string_view key) const;

    // get(), or the default's text (cut the same way) when missing.
    std::string read(std::string_view section, std::string_view key,
                     const IniValue& defaultValue) const;

    // Replaces the value of an existing key in place, or adds the key after the last key
    // line of its section, or adds section and key at the end. Names are stored without
    // surrounding blanks. Refuses (document unchanged) names or values that would break the
    // line structure: line breaks anywhere, an empty name, '=' in a key or a key starting
    // with ';' or '[', ']' in a section name.
    Status set(std::string_view section, std::string_view key, std::string_view value);

    std::string bytes() const;
    // CR LF or LF: how lines that `set` adds end.
    const std::string& lineEnd() const { return lineEnd_; }

    // The line-level edits beneath `set`, for stores that write values their own way.
    // The key lines of `key` in `section` (in every section of that name where the dialect
    // merges them), in file order.
    std::vector<std::size_t> keyLines(std::string_view section, std::string_view key) const;
    // A key line's value as it stands: from the first non-blank after '=' to the last one.
    std::string_view storedValue(std::size_t keyLine) const;
    // Puts `text` in place of a whole line. The line end stays; a last line without one gets
    // one (CR LF when the line ended in CR, else LF).
    void replaceLine(std::size_t at, std::string text);
    void removeLine(std::size_t at);
    // Adds the key line `text` where the dialect puts new keys of `section`, or, without such
    // a section, the section and the line at the end.
    void addKeyLine(std::string_view section, std::string text);

  private:
    enum class Kind { Other, Section, Key };
    struct Line {
        std::string text;  // without its line end
        std::string end;   // "\r\n", "\n", or "" for a last line without one
        Kind kind = Kind::Other;
        std::string name;         // section or key name, trimmed
        std::size_t valueAt = 0;  // key lines: where the value starts (after '=' and blanks)
    };

    void classify(Line& line, bool firstLine) const;
    Line newLine(std::string text) const;
    // A line added after the last line must not run into it.
    void endLastLine();
    std::optional<std::size_t> findSection(std::string_view section) const;
    std::size_t sectionEnd(std::size_t header) const;

    IniDialect dialect_;
    std::vector<Line> lines_;
    std::string lineEnd_ = "\r\n";
};

// Reading and replacing a whole profile file.
struct IniFile {
    IniDocument document;  // empty when the file could not be read
    bool missing = false;  // the file does not exist (status says so as well)
    Status status;         // the failure names the file and the reason
};
IniFile LoadIniFile(const std::string& fileName);

// Writes through OutputFile, so a failure leaves the old file as it was. A symlink at the
// file name is written through to the file it names; a dangling one is replaced.
Status SaveIniFile(const std::string& fileName, const IniDocument& document);

// ReadINI (file, section, key, default): the value text, or the default's text when the
// file, section or key is missing (a file that cannot be read counts as missing, as with
// the profile call).
std::string ReadINI(const std::string& fileName, const std::string& section, const std::string& key,
                    const IniValue& defaultValue);

// ReadINI with a type sample: ReadINI<bool>(...) is true when the text in upper case is
// "1", "WAHR" or "TRUE"; ReadINI<int16_t|int32_t|float|double>(...) is the number that the
// text starts with (integers rounded half to even and clamped to their range).
template <typename T>
T ReadINI(const std::string& fileName, const std::string& section, const std::string& key,
          const IniValue& defaultValue);

// Whether a value text counts as True for ReadINI<bool>.
bool IniTextIsTrue(std::string_view text);

// WriteINI (file, section, key, value): creates file, section and key as needed and
// replaces an existing value. An error names the file and the reason.
Status WriteINI(const std::string& fileName, const std::string& section, const std::string& key,
                const IniValue& value);

template <typename T>
T ReadINI(const std::string& fileName, const std::string& section, const std::string& key,
          const IniValue& defaultValue) {
    const std::string text = ReadINI(fileName, section, key, defaultValue);
    if constexpr (std::is_same_v<T, bool>) {
        return IniTextIsTrue(text);
    } else if constexpr (std::is_same_v<T, int16_t>) {
        return bus::ParseInt16(text);
    } else if constexpr (std::is_same_v<T, int32_t>) {
        return bus::ParseInt32(text);
    } else if constexpr (std::is_same_v<T, float> || std::is_same_v<T, double>) {
        return static_cast<T>(bus::ParseNumber(text));
    } else {
        static_assert(std::is_same_v<T, std::string>,
                      "ReadINI reads bool, int16_t, int32_t, float, double or std::string");
        return text;
    }
}

}  // namespace benchcap::scanner
