benchcap_fuzzer(fuzz_app_options
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/app_options_fuzz.cpp
  LIBS benchcap_app)
