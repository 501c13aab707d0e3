benchcap_benchmark(lan_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/lan_bench.cpp
  LIBS benchcap_sim)
