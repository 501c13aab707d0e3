# The trace recorder over 1 and 24 hours of virtual bench time at 10 rows a second (1001
# points): CPU per row against the acquisition alone, and resident memory from hour 1 on;
# and the schedule error (how late items begin) on the real clock, 60 s by default
# (BENCHCAP_RECORD_SECONDS).
benchcap_benchmark(recorder_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/recorder_bench.cpp
  LIBS benchcap_recorder benchcap_sim benchcap_scripted_ui)
