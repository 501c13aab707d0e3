benchcap_fuzzer(fuzz_settings
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/settings_fuzz.cpp
  LIBS benchcap_app)
