# Outside libraries: libcurl and zlib for the analytics upload, GoogleTest for
# the tests, Google Benchmark for the benchmarks (native only).
#
# Windows cross builds find the mingw builds of libcurl and GoogleTest through
# CMAKE_PREFIX_PATH (tools/bootstrap puts them in its cache); MSVC builds find
# them wherever the developer installed them (vcpkg, CMAKE_PREFIX_PATH).

if(WIN32)
  # Link zlib statically so that no zlib1.dll must ship beside the executable.
  set(ZLIB_USE_STATIC_LIBS ON)
endif()
find_package(ZLIB REQUIRED)
find_package(CURL REQUIRED)

if(QUILLON_BUILD_TESTS)
  find_package(GTest REQUIRED)
  if(NOT TARGET GTest::gmock)
    message(FATAL_ERROR "GoogleMock is required by the tests")
  endif()
endif()

set(QUILLON_HAVE_BENCHMARK OFF)
if(QUILLON_BUILD_BENCHMARKS AND NOT CMAKE_CROSSCOMPILING)
  find_package(benchmark QUIET)
  if(benchmark_FOUND)
    set(QUILLON_HAVE_BENCHMARK ON)
  endif()
endif()
