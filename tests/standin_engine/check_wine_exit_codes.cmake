# Runs Windows programs through the Wine harness (RUNNER) and checks that
# their exit codes come back unchanged: 0, 3 and a failing GoogleTest program.
function(expect_exit_code expected)
  execute_process(COMMAND "${RUNNER}" ${ARGN}
    RESULT_VARIABLE code OUTPUT_QUIET ERROR_QUIET)
  if(expected STREQUAL "nonzero")
    if(code EQUAL 0 OR NOT code MATCHES "^[0-9]+$")
      message(FATAL_ERROR "${ARGN}: expected a non-zero exit code, got '${code}'")
    endif()
  elseif(NOT code STREQUAL expected)
    message(FATAL_ERROR "${ARGN}: expected exit code ${expected}, got '${code}'")
  endif()
endfunction()

expect_exit_code(0 "${EXIT_CODE}")
expect_exit_code(3 "${EXIT_CODE}" 3)
expect_exit_code(nonzero "${FAILING_GTEST}")
