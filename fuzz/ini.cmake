benchcap_fuzzer(fuzz_ini
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/ini_fuzz.cpp
  LIBS benchcap_scanner)
