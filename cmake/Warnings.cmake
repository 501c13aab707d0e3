# Warnings are errors only where a developer or CI asks for them (BENCHCAP_WERROR, on in
# scripts/test.sh): a user's build with a newer compiler must not fail on a new warning.
# Qt and other imported headers are system headers.
function(benchcap_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  # GCC 12 at -O3 reports impossible overlaps and sizes inside libstdc++'s own
  # std::string concatenation ("text" + std::string: GCC bugs 105329 and 105651). The
  # findings are in the library's inlined code, not ours, so these two are off there.
  target_compile_options(${target} PRIVATE
    "$<$<AND:$<CXX_COMPILER_ID:GNU>,$<CONFIG:Release>>:-Wno-restrict;-Wno-stringop-overflow>")
  if(BENCHCAP_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# One static library per subsystem folder: benchcap_library(NAME SOURCES... )
function(benchcap_library name)
  add_library(${name} STATIC ${ARGN})
  benchcap_warnings(${name})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
endfunction()
