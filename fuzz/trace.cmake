benchcap_fuzzer(fuzz_trace_text
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/trace_text_fuzz.cpp
  LIBS benchcap_trace)
