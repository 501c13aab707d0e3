benchcap_benchmark(plot_capture_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/plot_capture_bench.cpp
  LIBS benchcap_hardcopy benchcap_sim)
