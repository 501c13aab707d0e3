# Trace plot: long line graphs into a full-HD image.
benchcap_benchmark(trace_plot_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/trace_plot_bench.cpp
  LIBS benchcap_traceplot)
