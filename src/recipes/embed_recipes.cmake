# Writes the shipped recipe file into a C++ source as one raw string, so the program finds
# its recipes with nothing installed. Run as: cmake -DIN=recipes.yaml -DOUT=x.cpp -P this.
file(READ ${IN} content)
file(WRITE ${OUT} "// Generated from data/recipes.yaml at build time; edit that file instead.
#include \"recipes/recipe_book.h\"

namespace benchcap::recipes {
std::string_view shippedRecipesText() {
    static constexpr char text[] = R\"benchcap_recipes(${content})benchcap_recipes\";
    return {text, sizeof text - 1};
}
}  // namespace benchcap::recipes
")
