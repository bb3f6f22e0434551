# Cross build for 64-bit Windows with the mingw-w64 toolchain (posix threads).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QUILLON_MINGW_TRIPLE x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${QUILLON_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUILLON_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QUILLON_MINGW_TRIPLE}-windres)

# The mingw builds of libcurl and GoogleTest that tools/bootstrap keeps in its
# cache. tools/lib/env.sh names the folder (its name carries the toolchain's
# version), so ask it rather than repeat the rule; the environment variable
# also reaches the try_compile projects that read this file again.
if(NOT DEFINED ENV{QUILLON_MINGW_PREFIX})
  execute_process(
    COMMAND bash -c "source \"$1\" && printf %s \"$QUILLON_MINGW_PREFIX\""
            env.sh "${CMAKE_CURRENT_LIST_DIR}/../tools/lib/env.sh"
    OUTPUT_VARIABLE quillon_mingw_prefix
    RESULT_VARIABLE quillon_env_result)
  if(quillon_env_result EQUAL 0 AND IS_DIRECTORY "${quillon_mingw_prefix}")
    set(ENV{QUILLON_MINGW_PREFIX} "${quillon_mingw_prefix}")
  endif()
endif()

set(CMAKE_FIND_ROOT_PATH /usr/${QUILLON_MINGW_TRIPLE})
if(DEFINED ENV{QUILLON_MINGW_PREFIX})
  list(PREPEND CMAKE_FIND_ROOT_PATH "$ENV{QUILLON_MINGW_PREFIX}")
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static runtime, so that nothing but our own DLLs must sit beside a binary.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
