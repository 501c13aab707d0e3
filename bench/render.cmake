# benchcap-cli render: wall time and peak memory (max RSS of a child process per run) of
# 16 MB plots to PNG, SVG and PDF at the default size.
benchcap_benchmark(render_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/render_bench.cpp
  LIBS)
add_dependencies(render_bench benchcap-cli)
target_compile_definitions(render_bench PRIVATE BENCHCAP_CLI_PATH="$<TARGET_FILE:benchcap-cli>")
