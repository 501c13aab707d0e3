benchcap_benchmark(touchstone_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/touchstone_bench.cpp
  LIBS benchcap_trace)
