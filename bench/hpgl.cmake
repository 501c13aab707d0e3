# HP-GL renderer: the in-tree sample plots into 1024 x 768, and 16 MB worst cases.
benchcap_benchmark(hpgl_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/hpgl_bench.cpp
  LIBS benchcap_hpgl)
target_compile_definitions(hpgl_bench PRIVATE BENCHCAP_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
