benchcap_fuzzer(fuzz_scan_answer
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/scan_answer_fuzzer.cpp
  LIBS benchcap_scanner)
