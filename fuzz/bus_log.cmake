# fuzz_bus_log: arbitrary bytes through the bus log reader. Corpus: fuzz/corpus/bus_log/.
benchcap_fuzzer(fuzz_bus_log
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/bus_log_fuzz.cpp
  LIBS benchcap_bus)
