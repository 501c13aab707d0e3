#pragma once

// Screenshot and trace recipes: how to get a picture (and a trace) out of an instrument
// the model table does not know, written as data. A recipe row names the identification
// it applies to and the commands its maker's programming manual gives; the runner
// (recipe_runner.h) carries them out. Rows come from the file shipped inside Benchcap and
// from the user's own recipes.yaml, which overrides rows of the same name.

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace re2 {
class RE2;
}

namespace benchcap::recipes {

// An instrument's answer is matched on its first 64 KiB at most: identifications and
// status answers are short, and a runaway answer must not take long to look at.
inline constexpr std::size_t kMaxMatchedText = std::size_t{64} << 10;

// A recipe's regular expression (RE2 syntax, taken byte by byte), compiled when the file is
// read. It runs on what an instrument answers, so matching takes time linear in the answer
// whatever the pattern: no answer can stall identification or a wait.
class Pattern {
  public:
    Pattern() = default;
    // The compiled pattern, or RE2's reason why `text` is not one.
    static Result<Pattern> compile(const std::string& text);
    // Whether the pattern matches somewhere in the first kMaxMatchedText bytes of `answer`
    // (an empty Pattern matches nothing).
    bool search(std::string_view answer) const;
    const std::string& text() const { return text_; }

  private:
    std::string text_;
    std::shared_ptr<const re2::RE2> re_;  // shared: rows are copied when files are merged
};

// How the runner learns that the picture is ready.
struct Wait {
    enum class Kind { None, Opc, Poll, Delay };
    Kind kind = Kind::None;
    std::string query;  // Poll: the query asked again and again
    Pattern until;      // Poll: the answer that says "done"
    double delaySeconds = 0;
};

// Where the picture comes from once produced.
struct Fetch {
    enum class Kind { Query, File };
    Kind kind = Kind::Query;  // Query: the answer to `produce` is the picture
    std::string save;         // File: the command that stores the picture in its memory
    std::string read;         // File: the query that sends the stored file
    std::string remove;       // File: the command that deletes it afterwards (may be empty)
};

// How the picture's bytes are framed on the bus.
enum class Framing {
    Block,  // IEEE 488.2 definite-length block
    End,    // a message up to END; a final line feed is not part of the picture
    Raw,    // bytes without any header up to END, kept as they are
};

enum class PictureType { Png, Bmp, Gif, Jpeg, Tiff, Wmf };

struct Screen {
    std::vector<std::string> prepare;
    std::string produce;
    Wait wait;
    Fetch fetch;
    Framing framing = Framing::Block;
    PictureType format = PictureType::Png;
    std::vector<std::string> restore;
    double timeoutSeconds = 10;
};

// Trace commands may hold kTraceNumberMark, replaced by the trace number asked for.
inline constexpr char kTraceNumberMark[] = "{n}";
inline constexpr int kDefaultTraceCount = 4;
inline constexpr int kMaxTraceCount = 8;

struct Trace {
    enum class Format { Ascii, Real32, Real64 };
    std::string query;
    int traces = kDefaultTraceCount;  // the row offers traces 1..traces
    std::vector<std::string> prepare;
    Format format = Format::Ascii;
    bool bigEndian = false;
    Framing framing = Framing::Block;
    // The stimulus axis: start with stop, or start with step (each a query; empty: none).
    std::string start;
    std::string stop;
    std::string step;
};

struct Recipe {
    std::string name;
    std::string match;  // the pattern searched in the *IDN? answer
    Pattern matcher;
    std::string kind;        // oscilloscope, spectrum-analyzer, ...
    std::string exampleIdn;  // an identification the row is written for (checked to match)
    Screen screen;
    std::optional<Trace> trace;
    std::string origin;  // "shipped recipes" or the user's file name
};

// Bounds on outside files, so a broken one cannot take the memory.
inline constexpr std::size_t kMaxRecipeFileBytes = std::size_t{1} << 20;
inline constexpr std::size_t kMaxRecipes = 1000;
inline constexpr std::size_t kMaxRecipeText = 1000;  // one command or query
// A pattern or an example identification: short, so a pattern's compiled form stays small.
inline constexpr std::size_t kMaxPatternText = 200;
inline constexpr std::size_t kMaxCommandsPerStep = 32;
inline constexpr double kMaxTimeoutSeconds = 1000;

class RecipeBook {
  public:
    // The rows of one file; strict: an unknown key, a bad value or pattern, a command holding
    // a line break, a missing `produce` is an error that names the source, the row and the key.
    static Result<RecipeBook> parse(std::string_view yamlText, const std::string& source);
    // The shipped rows merged with `recipes.yaml` in `configFolder` when it exists.
    static Result<RecipeBook> load(const std::filesystem::path& configFolder);
    static Result<RecipeBook> shipped();

    // Rows of `other` replace rows of the same name and add the rest at the end.
    void merge(const RecipeBook& other);

    // The first row whose pattern matches the identification (trailing line feed and
    // blanks removed), or null.
    const Recipe* match(std::string_view idnAnswer) const;
    const Recipe* named(std::string_view name) const;
    const std::vector<Recipe>& rows() const { return rows_; }

  private:
    std::vector<Recipe> rows_;
};

// The text of data/recipes.yaml, built into the program.
std::string_view shippedRecipesText();
// Name of the per-user file in the user's configuration folder.
inline constexpr char kUserRecipesFile[] = "recipes.yaml";

std::string_view pictureTypeName(PictureType type);
// The type the first bytes of a picture say it is, or nothing.
std::optional<PictureType> pictureTypeOf(std::string_view head);
// Bytes enough for pictureTypeOf.
inline constexpr std::size_t kPictureMagicBytes = 8;

// A bench-file instrument (`kind: recipe`, a YAML flow mapping) at `address` that serves
// `recipe` as its maker's instrument would, answering with the row's example_idn.
// With a trace section, the entry also serves the trace (trace_* keys, traces).
std::string benchEntryFor(const Recipe& recipe, int address);

// `command` with every kTraceNumberMark replaced by `traceNumber`.
std::string withTraceNumber(std::string_view command, int traceNumber);

}  // namespace benchcap::recipes
