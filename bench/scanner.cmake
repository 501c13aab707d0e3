benchcap_benchmark(scanner_bench
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/scanner_bench.cpp
  LIBS benchcap_scanner benchcap_sim benchcap_scripted_ui)
