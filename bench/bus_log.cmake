# The bus log's cost on a 1M-point trace and a 2.3 MB hardcopy (log=0 none, 1 default, 2 full).
benchcap_benchmark(bus_log_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/bus_log_bench.cpp
  LIBS benchcap_hardcopy benchcap_sim)
