benchcap_fuzzer(fuzz_rpc_record
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/rpc_record_fuzz.cpp
  LIBS benchcap_bus)
