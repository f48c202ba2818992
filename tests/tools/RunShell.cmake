# Runs PROGRAM shell --json on SCRIPT and compares its output with EXPECTED, after putting
# the version numbers in place of @VERSION@.
execute_process(COMMAND ${PROGRAM} --version OUTPUT_VARIABLE version
                OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND ${PROGRAM} shell --json ${SCRIPT} OUTPUT_VARIABLE output
                RESULT_VARIABLE code TIMEOUT 60)
if(NOT code EQUAL 0)
  message(FATAL_ERROR "shell exited with ${code}")
endif()
file(READ ${EXPECTED} expected)
string(REPLACE "@VERSION@" "${version}" expected "${expected}")
if(NOT output STREQUAL expected)
  message(FATAL_ERROR "shell output differs.\n--- got\n${output}--- expected\n${expected}")
endif()
