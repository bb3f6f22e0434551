# Cross build for 64-bit Windows with clang and lld: the second compiler for
# the Windows code, so a construct only GCC accepts shows up here rather than
# in an MSVC build. It uses the same mingw-w64 headers and import libraries,
# GCC's libstdc++ (posix threads) and the same mingw dependencies as
# mingw-w64-x86_64.cmake, whose settings it starts from.
include("${CMAKE_CURRENT_LIST_DIR}/mingw-w64-x86_64.cmake")

set(CMAKE_C_COMPILER clang-14)
set(CMAKE_CXX_COMPILER clang++-14)
set(CMAKE_C_COMPILER_TARGET ${QUILLON_MINGW_TRIPLE})
set(CMAKE_CXX_COMPILER_TARGET ${QUILLON_MINGW_TRIPLE})

# Clang does not find GCC's mingw library folder by itself (Debian names it
# "<version>-posix"), so name its C++ headers and libraries here.
file(GLOB quillon_gcc_dirs "/usr/lib/gcc/${QUILLON_MINGW_TRIPLE}/*-posix")
list(SORT quillon_gcc_dirs COMPARE NATURAL ORDER DESCENDING)
list(GET quillon_gcc_dirs 0 quillon_gcc_dir)
if(NOT IS_DIRECTORY "${quillon_gcc_dir}/include/c++")
  message(FATAL_ERROR "no mingw-w64 GCC (posix threads) found for its libstdc++")
endif()
set(quillon_cxx_include "${quillon_gcc_dir}/include/c++")
# GCC's mingw target compares type_info out of line (libstdc++'s tinfo.o
# defines the operator); clang would inline it and clash with that definition.
# GCC's mingw libstdc++ keeps its thread-local variables (those of
# std::call_once among them) in emulated TLS; clang must reach them the same
# way.
string(JOIN " " CMAKE_CXX_FLAGS_INIT
  "-D__GXX_TYPEINFO_EQUALITY_INLINE=0"
  "-femulated-tls"
  "-isystem ${quillon_cxx_include}"
  "-isystem ${quillon_cxx_include}/${QUILLON_MINGW_TRIPLE}"
  "-isystem ${quillon_cxx_include}/backward")

# lld resolves static archives in any order, so winpthread (which GCC's
# libstdc++ needs) can be named up front; GNU ld would need the libstdc++,
# winpthread and libgcc archives grouped by hand, and warns about the padding
# in which GCC's and clang's copies of the same type names differ. Clang calls
# libatomic for std::atomic of a small struct where GCC inlines the access.
foreach(kind EXE SHARED MODULE)
  string(APPEND CMAKE_${kind}_LINKER_FLAGS_INIT
    " -fuse-ld=lld-14 -L${quillon_gcc_dir} -lpthread -latomic")
endforeach()
