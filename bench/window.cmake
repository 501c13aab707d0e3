# The window's hardcopy command: whole command, and last block byte to picture on screen.
benchcap_benchmark(window_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/window_bench.cpp
  LIBS benchcap_app benchcap_app_testing benchcap_sim)
