benchcap_fuzzer(fuzz_recipe
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/recipe_fuzz.cpp
  LIBS benchcap_recipes)
