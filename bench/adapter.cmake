benchcap_benchmark(adapter_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/adapter_bench.cpp
  LIBS benchcap_sim)
