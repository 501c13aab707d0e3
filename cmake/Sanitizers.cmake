if(BENCHCAP_SANITIZE AND BENCHCAP_TSAN)
  message(FATAL_ERROR "BENCHCAP_SANITIZE and BENCHCAP_TSAN exclude each other: build them in two folders")
endif()

if(BENCHCAP_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

if(BENCHCAP_TSAN)
  # Races between the window thread and the bus thread; Qt itself is not instrumented, so
  # the hand-overs between the two threads go through our own mutexes (see bus_worker.cpp).
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

if(BENCHCAP_FUZZ)
  # Coverage for our libraries; the fuzzer programs add the libFuzzer main themselves.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
