# fuzz_hpgl: arbitrary bytes through the HP-GL interpreter and the painter pass into a
# small image, plus the content sniffing. Corpus: fuzz/corpus/hpgl/.
benchcap_fuzzer(fuzz_hpgl
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/hpgl_fuzz.cpp ${CMAKE_CURRENT_LIST_DIR}/gui_fuzz_init.cpp
  LIBS benchcap_hpgl)
