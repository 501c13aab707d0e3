benchcap_benchmark(hardcopy_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/hardcopy_bench.cpp
  LIBS benchcap_hardcopy benchcap_sim)
