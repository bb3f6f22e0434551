# Warnings and sanitizers for the project's own targets.
# On by default where the code is known to build clean (GCC and clang, native
# and mingw); MSVC's /W4 is not checked here, so it stays a choice there.
if(MSVC)
  set(quillon_werror_default OFF)
else()
  set(quillon_werror_default ON)
endif()
option(QUILLON_WERROR "Treat compiler warnings in the project's own code as errors"
       ${quillon_werror_default})
if(MSVC)
  add_compile_options(/W4 /utf-8 /EHsc)
  if(QUILLON_WERROR)
    add_compile_options(/WX)
  endif()
  add_compile_definitions(_CRT_SECURE_NO_WARNINGS NOMINMAX WIN32_LEAN_AND_MEAN UNICODE _UNICODE)
else()
  add_compile_options(-Wall -Wextra)
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    # Checks the locking that platform/thread_annotations.h declares.
    add_compile_options(-Wthread-safety)
  endif()
  if(QUILLON_WERROR)
    add_compile_options(-Werror)
  endif()
  if(WIN32)
    add_compile_definitions(NOMINMAX WIN32_LEAN_AND_MEAN UNICODE _UNICODE _WIN32_WINNT=0x0A00 WINVER=0x0A00)
  endif()
endif()

if(QUILLON_FUZZ)
  if(WIN32 OR NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "QUILLON_FUZZ needs a native clang build")
  endif()
  # Everything instrumented for coverage and checked; the fuzzer's own main
  # comes only with the targets (tests/fuzz).
  # -O1 as libFuzzer advises: unoptimised code runs several times slower
  # and gives the fuzzer more edges to track for the same paths.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -O1
                      -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

if(QUILLON_SANITIZE)
  if(WIN32 OR MSVC)
    message(FATAL_ERROR "QUILLON_SANITIZE is for the native (Linux) build")
  endif()
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
