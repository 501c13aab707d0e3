# fuzz_wmf: arbitrary bytes through the metafile player (header, records, objects,
# DIB decoding, text) into a small image. Corpus: fuzz/corpus/wmf/.
benchcap_fuzzer(fuzz_wmf
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/wmf_fuzzer.cpp ${CMAKE_CURRENT_LIST_DIR}/gui_fuzz_init.cpp
  LIBS benchcap_picture)
