benchcap_fuzzer(fuzz_trace_text
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/trace_text_fuzz.cpp
  LIBS benchcap_trace)
benchcap_fuzzer(fuzz_trace_read
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/trace_read_fuzz.cpp
  LIBS benchcap_trace benchcap_scripted_ui)
