benchcap_fuzzer(fuzz_block_header
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/block_header_fuzz.cpp
  LIBS benchcap_hardcopy)
