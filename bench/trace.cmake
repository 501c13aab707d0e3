benchcap_benchmark(trace_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/trace_bench.cpp
  LIBS benchcap_trace)
