benchcap_fuzzer(fuzz_trace_recipe
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/trace_recipe_fuzz.cpp
  LIBS benchcap_trace)
