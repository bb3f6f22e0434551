# The engine library the host links. With FLUTTER_ENGINE_DIR set (a Windows
# build against the real engine) the target flutter_windows is the import
# library from that folder; otherwise standins/engine defines it.
if(FLUTTER_ENGINE_DIR AND NOT TARGET flutter_windows)
  add_library(flutter_windows SHARED IMPORTED GLOBAL)
  set_target_properties(flutter_windows PROPERTIES
    IMPORTED_LOCATION "${FLUTTER_ENGINE_DIR}/flutter_windows.dll"
    IMPORTED_IMPLIB "${FLUTTER_ENGINE_DIR}/flutter_windows.dll.lib")
endif()
