# Metafile player: sample files, writer-made and costly metafiles, and a writer-made
# instrument screen into 1024 x 768.
benchcap_benchmark(picture_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/picture_bench.cpp
  LIBS benchcap_picture benchcap_wmfwriter benchcap_testsupport)
