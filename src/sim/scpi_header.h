#pragma once

// How a simulated instrument reads SCPI program headers, as a real one does (IEEE 488.2
// 7.6, SCPI-99 chapter 6): a pattern in a programming manual's notation, for example
// `[:]HCOPy:SDUMp:DATA[:DATA]?` or `:DISPlay:DATA? {ON|OFF},{0|1},{PNG|BMP8|BMP}`, is read
// once and then takes every spelling the instrument would take:
// - a mnemonic written with its short form in capitals (`HCOPy`) takes the short or the
//   long form (`HCOP`, `HCOPY`) in any case, and nothing in between or longer; a mnemonic
//   written without lower-case letters (`HCOPY`, `SCDP`) takes only itself;
// - the colon at the root may be left out; `[:NODe]` or `[NODe:]` may be left out;
// - a node's numeric suffix (`CHANnel1`, `TRACe2`) may be left out when it is 1;
// - parameters are separated by commas with any blanks around them; a keyword takes its
//   short and long form, `{A|B}` any of its choices, a quoted string its text in either
//   quote (without regard to case), a number the same value in any notation.

#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace benchcap::sim {

class ScpiPattern {
  public:
    // A pattern without parameters written (`on()` handlers) leaves them unchecked unless
    // `exactParameters`; a recipe row's command takes just the parameters it names.
    static Result<ScpiPattern> parse(std::string_view notation, bool exactParameters = true);

    // Whether a received command (its header with its full path, and the argument text)
    // is one this pattern takes.
    bool matchesHeader(std::string_view header) const;
    bool matches(std::string_view header, std::string_view args) const;

    const std::string& text() const { return text_; }

    // One mnemonic: `letters` upper case; `shortForm` equal to it when no short form is
    // given; `suffix` the digits written after it ("" none).
    struct Word {
        std::string longForm, shortForm, suffix;
        bool optional = false;
    };
    // One value a parameter may take: a keyword (`word`), a quoted string or a number.
    struct Value {
        enum class Type { Keyword, String, Number } type = Type::Keyword;
        Word word;
        std::string text;
        double number = 0;
    };

  private:
    bool matchNodes(const std::vector<std::string>& got, std::size_t at, std::size_t node) const;

    std::string text_;
    std::string common_;  // a common command ("*OPC?"), upper case
    std::vector<Word> nodes_;
    bool query_ = false;
    bool checkParameters_ = true;
    std::vector<std::vector<Value>> parameters_;  // each parameter's choices
};

// Splits a message into commands at ';' outside single or double quotes.
std::vector<std::string> splitCommands(std::string_view message);

// The commands of one program message, split at ';' outside quotes, each with its full
// header path: a command without a leading colon continues at the level of the previous
// one (`HCOP:SDUM:DATA:FORM BMP;DATA?` gives `HCOP:SDUM:DATA:DATA?`), `;:` goes back to the
// root, and common commands (`*OPC?`) leave the level as it is. Leading colons are dropped;
// blank commands are left out.
std::vector<std::string> scpiCommands(std::string_view message);

}  // namespace benchcap::sim
