# Warnings are errors for our own code; Qt and other imported headers are system headers.
function(benchcap_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror)
endfunction()

# One static library per subsystem folder: benchcap_library(NAME SOURCES... )
function(benchcap_library name)
  add_library(${name} STATIC ${ARGN})
  benchcap_warnings(${name})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
endfunction()
