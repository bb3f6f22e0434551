# Lets a GoogleTest program use the shared collection server of the CTest
# fixture "quillon_collection_server" (started by tests/support). Include
# this file, then after quillon_add_gtest(<target> ...):
#
#   include("${PROJECT_SOURCE_DIR}/tests/support/collection_server.cmake")
#   quillon_add_gtest(my_test SOURCES ... LIBS quillon_test_collection_server ...)
#   quillon_use_collection_server(my_test)
#
# Every discovered test of <target> then requires the fixture and gets
# QUILLON_COLLECTION_SERVER_PORT_FILE in its environment, which
# test_support::CollectionServer::Start() reads. Needed under Wine; natively
# it saves starting a server per test. With WITH_FORWARD_PROXY the tests
# also require the fixture "quillon_forward_proxy" (tools/forward_proxy,
# resolving QUILLON_PROXY_ONLY_HOST to 127.0.0.1) and get its port file as
# QUILLON_FORWARD_PROXY_PORT_FILE.

set(QUILLON_COLLECTION_SERVER_FIXTURE quillon_collection_server)
set(QUILLON_COLLECTION_SERVER_PORT_FILE
    "${CMAKE_BINARY_DIR}/collection_server/port")
set(QUILLON_FORWARD_PROXY_FIXTURE quillon_forward_proxy)
set(QUILLON_FORWARD_PROXY_PORT_FILE "${CMAKE_BINARY_DIR}/forward_proxy/port")
# A reserved name that never resolves, except at the forward proxy.
set(QUILLON_PROXY_ONLY_HOST "collector.quillon.test")

function(quillon_use_collection_server target)
  cmake_parse_arguments(arg "WITH_FORWARD_PROXY" "" "" ${ARGN})
  set(fixtures "${QUILLON_COLLECTION_SERVER_FIXTURE}")
  set(environment "QUILLON_COLLECTION_SERVER_PORT_FILE=${QUILLON_COLLECTION_SERVER_PORT_FILE}")
  if(arg_WITH_FORWARD_PROXY)
    string(APPEND fixtures ";${QUILLON_FORWARD_PROXY_FIXTURE}")
    string(APPEND environment ";QUILLON_FORWARD_PROXY_PORT_FILE=${QUILLON_FORWARD_PROXY_PORT_FILE}")
  endif()
  # The discovered test names exist only when CTest runs (discovery happens
  # then), so the properties are set by a script that CTest includes after
  # the discovery script of <target>, which leaves them in <target>_TESTS.
  set(hook "${CMAKE_CURRENT_BINARY_DIR}/${target}_collection_server.cmake")
  file(WRITE "${hook}"
    "if(${target}_TESTS)\n"
    "  set_tests_properties(\${${target}_TESTS} PROPERTIES\n"
    "    FIXTURES_REQUIRED \"${fixtures}\"\n"
    "    ENVIRONMENT \"${environment}\")\n"
    "endif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${hook}")
endfunction()
