# The window's event loop while a bus command runs on a slow bench, and how fast Stop ends it.
benchcap_benchmark(responsiveness_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/responsiveness_bench.cpp
  LIBS benchcap_app benchcap_app_testing benchcap_sim benchcap_testsupport)
