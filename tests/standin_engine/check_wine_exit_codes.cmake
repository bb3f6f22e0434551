# Runs Windows programs through the Wine harness (RUNNER) and checks that
# their exit codes come back unchanged: 0, 3 and a failing GoogleTest program.
# A failure without any output is how Wine failing to start a program looks, so
# the harness starts it once more and logs that; a failure with output never is.
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

function(expect_starts expected file)
  file(STRINGS "${file}" starts)
  list(LENGTH starts count)
  if(NOT count EQUAL expected)
    message(FATAL_ERROR "${file}: expected ${expected} starts, saw ${count}")
  endif()
endfunction()

# These deliberate silent failures are no news for the session's retry log.
set(scratch "${CMAKE_CURRENT_BINARY_DIR}/wine_harness_retry")
file(REMOVE_RECURSE "${scratch}")
file(MAKE_DIRECTORY "${scratch}")
set(ENV{QUILLON_WINE_RETRY_LOG} "${scratch}/retries.log")

expect_exit_code(0 "${EXIT_CODE}")
expect_exit_code(3 "${EXIT_CODE}" 3)
expect_exit_code(nonzero "${FAILING_GTEST}")

expect_exit_code(3 "${EXIT_CODE}" 3 "${scratch}/silent")
expect_starts(2 "${scratch}/silent")
file(READ "${scratch}/retries.log" retries)
if(NOT retries MATCHES "exited 3 without output")
  message(FATAL_ERROR "the retry was not logged: '${retries}'")
endif()
expect_exit_code(3 "${EXIT_CODE}" 3 "${scratch}/printing" said)
expect_starts(1 "${scratch}/printing")
expect_exit_code(0 "${EXIT_CODE}" 0 "${scratch}/passing")
expect_starts(1 "${scratch}/passing")
