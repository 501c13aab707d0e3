benchcap_fuzzer(fuzz_bench_file
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_file_fuzz.cpp
  LIBS benchcap_sim)
