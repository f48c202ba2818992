option(DIAGBRIDGE_WERROR "Treat warnings as errors" OFF)

# The warning set every target of the project builds clean with, on g++ and clang.
function(diagbridge_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow)
  if(DIAGBRIDGE_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
