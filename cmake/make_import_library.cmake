# cmake -DNM= -DDLLTOOL= -DIMPORT_LIBRARY= -DDLL= -DOUTPUT= -DKIND= -P <this>
# Writes an import library for DLL with every function IMPORT_LIBRARY imports
# from it: KIND "delay", GNU dlltool's delay-import library; "short", a short
# import library (llvm-dlltool), which lld can delay-load.
execute_process(
  COMMAND "${NM}" -g --defined-only "${IMPORT_LIBRARY}"
  OUTPUT_VARIABLE symbols RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${NM} could not read ${IMPORT_LIBRARY}")
endif()
# Import stubs only (" I __imp_<name>"); data and helper objects that the
# import library also carries stay with it.
string(REGEX MATCHALL " I __imp_[A-Za-z0-9_@?$]+" stubs "${symbols}")
list(REMOVE_DUPLICATES stubs)
set(definition "LIBRARY ${DLL}\nEXPORTS\n")
foreach(stub IN LISTS stubs)
  string(REPLACE " I __imp_" "" name "${stub}")
  string(APPEND definition "  ${name}\n")
endforeach()
get_filename_component(folder "${OUTPUT}" DIRECTORY)
file(MAKE_DIRECTORY "${folder}")
file(WRITE "${OUTPUT}.def" "${definition}")
if(KIND STREQUAL "delay")
  set(make "${DLLTOOL}" --input-def "${OUTPUT}.def" --output-delaylib
           "${OUTPUT}" --dllname "${DLL}")
else()
  set(make "${DLLTOOL}" -m i386:x86-64 -d "${OUTPUT}.def" -l "${OUTPUT}"
           -D "${DLL}")
endif()
execute_process(COMMAND ${make} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${DLLTOOL} could not make ${OUTPUT}")
endif()
