# quillon_delay_load(<target> <dll>...)
#
# The system DLLs named (base names, e.g. ws2_32) are loaded on the first call
# into them instead of at process start, for every executable that links
# <target>. Only functions may be taken from them this way, never data.
#
# MSVC knows delay loading by DLL name. lld does too, but only for imports it
# reads from short import libraries, and mingw-w64 ships long ones: it gets a
# short one made by llvm-dlltool. GNU ld has no such option: it links a
# delay-import library made by GNU dlltool. Either is made from the names the
# toolchain's own import library exports and placed before that library, so
# the calls bind to it. The thunks' helper, __delayLoadHelper2, is in
# delayimp.lib (MSVC) or the mingw-w64 runtime.
function(quillon_delay_load target)
  if(NOT WIN32)
    return()
  endif()
  foreach(dll IN LISTS ARGN)
    if(MSVC)
      target_link_options(${target} INTERFACE "/DELAYLOAD:${dll}.dll")
      target_link_libraries(${target} INTERFACE delayimp)
    elseif(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
      _quillon_import_library(${dll} short delay_library)
      target_link_libraries(${target} INTERFACE "${delay_library}")
      target_link_options(${target} INTERFACE "LINKER:--delayload=${dll}.dll")
    else()
      _quillon_import_library(${dll} delay delay_library)
      target_link_libraries(${target} INTERFACE "${delay_library}")
    endif()
    target_link_libraries(${target} INTERFACE ${dll})
  endforeach()
endfunction()

# kind: "delay" (GNU dlltool's delay-import library) or "short" (a short
# import library).
function(_quillon_import_library dll kind out_var)
  set(target quillon_${kind}_${dll})
  set(library "${CMAKE_BINARY_DIR}/delayimp/lib${dll}_${kind}.a")
  if(NOT TARGET ${target})
    find_library(QUILLON_IMPORT_LIBRARY_${dll} NAMES ${dll} REQUIRED)
    set(import_library "${QUILLON_IMPORT_LIBRARY_${dll}}")
    add_custom_command(
      OUTPUT "${library}"
      COMMAND "${CMAKE_COMMAND}" -DNM=${CMAKE_NM} -DDLLTOOL=${CMAKE_DLLTOOL}
              -DIMPORT_LIBRARY=${import_library} -DDLL=${dll}.dll
              -DOUTPUT=${library} -DKIND=${kind}
              -P "${PROJECT_SOURCE_DIR}/cmake/make_import_library.cmake"
      DEPENDS "${import_library}"
              "${PROJECT_SOURCE_DIR}/cmake/make_import_library.cmake"
      COMMENT "Making the ${kind} import library of ${dll}.dll"
      VERBATIM)
    add_custom_target(${target} DEPENDS "${library}")
    add_library(${target}_library STATIC IMPORTED GLOBAL)
    set_target_properties(${target}_library PROPERTIES
      IMPORTED_LOCATION "${library}")
    add_dependencies(${target}_library ${target})
  endif()
  set(${out_var} ${target}_library PARENT_SCOPE)
endfunction()
