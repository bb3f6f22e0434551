# quillon_add_gtest(<name> SOURCES <files...> [LIBS <targets...>]
#                   [LABELS <labels...>] [TIMEOUT <seconds>] [SERIAL]
#                   [LOCKS <resources...>] [STANDIN])
#
# A GoogleTest program whose cases CTest discovers one by one. In the windows
# tree the program runs under Wine through CMAKE_CROSSCOMPILING_EMULATOR;
# discovery happens when the tests run, not when they are built. STANDIN: the
# program runs the stand-in engine in-process, and any misuse of the engine's
# interface fails the test during which it happened. LOCKS: no two cases that
# name the same resource run at once (the desktop's pointer and buttons, for
# one, are shared by every program of a Wine session).
include(GoogleTest)

if(CMAKE_CROSSCOMPILING AND WIN32 AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${PROJECT_SOURCE_DIR}/tools/wine-run"
      CACHE FILEPATH "Runs Windows test programs" FORCE)
endif()

function(quillon_add_gtest name)
  cmake_parse_arguments(ARG "SERIAL;STANDIN" "TIMEOUT" "SOURCES;LIBS;LABELS;LOCKS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  if(ARG_STANDIN)
    target_sources(${name} PRIVATE
      "${PROJECT_SOURCE_DIR}/tests/support/standin_misuse_check.cc")
    target_link_libraries(${name} PRIVATE flutter_windows)
  endif()
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gmock GTest::gtest_main)
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  set(props TIMEOUT ${ARG_TIMEOUT})
  if(ARG_SERIAL)
    list(APPEND props RUN_SERIAL TRUE)
  endif()
  if(ARG_LOCKS)
    list(APPEND props RESOURCE_LOCK "${ARG_LOCKS}")
  endif()
  if(ARG_LABELS)
    list(APPEND props LABELS "${ARG_LABELS}")
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 120
    WORKING_DIRECTORY "${CMAKE_RUNTIME_OUTPUT_DIRECTORY}"
    PROPERTIES ${props})
endfunction()
