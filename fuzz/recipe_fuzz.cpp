// Arbitrary bytes as a recipe file: parsing fails with a message or gives rows that match,
// name and describe their simulated instrument, never a crash or an exception.

#include <cstddef>
#include <cstdint>
#include <string>

#include "recipes/recipe_book.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const benchcap::Result<benchcap::recipes::RecipeBook> book =
        benchcap::recipes::RecipeBook::parse(text, "fuzz");
    if (!book) {
        if (book.error().empty())
            __builtin_trap();  // a refusal always says why
        return 0;
    }
    for (const benchcap::recipes::Recipe& row : book->rows()) {
        if (book->named(row.name) == nullptr)
            __builtin_trap();
        (void)book->match(row.exampleIdn);
        (void)benchcap::recipes::benchEntryFor(row, 1);
    }
    return 0;
}
