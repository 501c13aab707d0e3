#include <cstdlib>
#include <ostream>

#include "bus/identification.h"
#include "bus/session.h"
#include "cli/cli.h"
#include "cli/command_options.h"
#include "recipes/recipe_book.h"

namespace benchcap::cli {

std::filesystem::path recipesFolder(const std::optional<std::string>& given) {
    if (given)
        return *given;
    // The user's configuration folder, as the XDG base directories name it.
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config)
        return std::filesystem::path(config) / "benchcap";
    if (const char* home = std::getenv("HOME"); home && *home)
        return std::filesystem::path(home) / ".config" / "benchcap";
    return {};
}

std::optional<recipes::RecipeBook> loadRecipes(CliContext& context, const char* command,
                                               const std::optional<std::string>& folder) {
    Result<recipes::RecipeBook> book = recipes::RecipeBook::load(recipesFolder(folder));
    if (!book) {
        context.err << "benchcap-cli " << command << ": " << book.error() << '\n';
        return std::nullopt;
    }
    return std::move(*book);
}

// The screenshot recipes: every row, the row for the instrument at an address, or the
// bench-file entry of a simulated instrument that serves a row.
int cmdRecipes(CliContext& context, const std::vector<std::string>& args) {
    std::vector<std::string> words;
    std::optional<std::string> folder;
    std::optional<std::string> entry;
    CommandOptions options("recipes");
    options.others(words)
        .value("--config", folder, "DIR",
               "the folder of the user's recipes.yaml (default ~/.config/benchcap)", "a folder")
        .value("--bench-entry", entry, "NAME",
               "print a bench-file instrument (kind recipe) that serves the row NAME",
               "a recipe name");
    if (const std::optional<int> done = options.parse(context.out, context.err, args))
        return *done;
    if (words.size() > 1) {
        context.err << "benchcap-cli recipes: unexpected argument '" << words[1] << "'\n";
        return kExitUsage;
    }
    std::optional<int> address;
    if (!words.empty() && !(address = addressArgument(context, "recipes", words[0])))
        return kExitUsage;
    const std::optional<recipes::RecipeBook> book = loadRecipes(context, "recipes", folder);
    if (!book)
        return kExitUsage;
    if (entry) {
        const recipes::Recipe* row = book->named(*entry);
        if (!row) {
            context.err << "benchcap-cli recipes: there is no recipe named '" << *entry
                        << "'; \"benchcap-cli recipes\" lists them\n";
            return kExitUsage;
        }
        context.out << "  - " << recipes::benchEntryFor(*row, address.value_or(1)) << '\n';
        return kExitDone;
    }
    if (!address) {
        for (const recipes::Recipe& row : book->rows()) {
            context.out << row.name << '\t' << row.kind << '\t'
                        << recipes::pictureTypeName(row.screen.format) << '\t' << row.match << '\t'
                        << row.origin << '\n';
        }
        return kExitDone;
    }
    const std::unique_ptr<CliInstrument> device = openInstrument(context, *address);
    if (!device)
        return kExitUsage;
    const std::string idn = withoutNulFilling(device->session.lastReply());
    const std::string& model = device->instrument.ModelName;
    device->session.GoToLocal();
    if (model == bus::kModelNoAnswer) {
        context.err << "No device was found on GPIB " << *address << '\n';
        return kExitNoAnswer;
    }
    context.out << "GPIB " << *address << ": " << idn.substr(0, idn.find('\n')) << '\n';
    if (model != bus::kModelUnknown) {
        context.out << "Benchcap knows the " << model << " itself; no recipe is used\n";
        return kExitDone;
    }
    const recipes::Recipe* row = book->match(idn);
    if (!row) {
        context.err << "no recipe matches it; add one to "
                    << (recipesFolder(folder) / recipes::kUserRecipesFile).string()
                    << " (see docs/recipes.md)\n";
        return kExitNoAnswer;
    }
    context.out << "recipe " << row->name << " (" << row->kind << ", "
                << recipes::pictureTypeName(row->screen.format) << ") from " << row->origin << '\n';
    return kExitDone;
}

}  // namespace benchcap::cli
