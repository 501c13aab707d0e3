# Waterfall of a recording: adding an acquisition, drawing, memory of a 24-hour recording.
benchcap_benchmark(waterfall_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/waterfall_bench.cpp
  LIBS benchcap_traceplot)
