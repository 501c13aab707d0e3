benchcap_fuzzer(fuzz_adapter
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/adapter_fuzz.cpp
  LIBS benchcap_bus)
