# fuzz_plotter: arbitrary bytes fed in pieces to the emulated plotter that answers output
# instructions. Corpus: fuzz/corpus/plotter/.
benchcap_fuzzer(fuzz_plotter
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/plotter_fuzz.cpp
  LIBS benchcap_hpgl)
