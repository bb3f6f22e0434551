# quillon_add_gtest(<name> SOURCES <files...> [LIBS <targets...>]
#                   [LABELS <labels...>] [TIMEOUT <seconds>] [SERIAL])
#
# A GoogleTest program whose cases CTest discovers one by one. In the windows
# tree the program runs under Wine through CMAKE_CROSSCOMPILING_EMULATOR;
# discovery happens when the tests run, not when they are built.
include(GoogleTest)

if(CMAKE_CROSSCOMPILING AND WIN32 AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${PROJECT_SOURCE_DIR}/tools/wine-run"
      CACHE FILEPATH "Runs Windows test programs" FORCE)
endif()

function(quillon_add_gtest name)
  cmake_parse_arguments(ARG "SERIAL" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gmock GTest::gtest_main)
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  set(props TIMEOUT ${ARG_TIMEOUT})
  if(ARG_SERIAL)
    list(APPEND props RUN_SERIAL TRUE)
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
