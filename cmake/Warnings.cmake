option(DIAGBRIDGE_WERROR "Treat warnings as errors" OFF)

# The warning set every target of the project builds clean with, on g++ and clang.
# g++ 12's flow-based warnings report copies inside inlined libstdc++ strings and vectors
# at -O2/-O3 that cannot happen (GCC bugs 105329, 105651 and relatives); in optimised g++
# builds they stay warnings rather than errors.
function(diagbridge_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow)
  if(NOT DIAGBRIDGE_WERROR)
    return()
  endif()
  target_compile_options(${target} PRIVATE -Werror)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${target} PRIVATE
      $<$<NOT:$<CONFIG:Debug>>:-Wno-error=restrict -Wno-error=array-bounds
      -Wno-error=maybe-uninitialized -Wno-error=use-after-free>)
  endif()
endfunction()
