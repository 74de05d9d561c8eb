# libsquish: Debian's package for the native tree. The Windows trees build it from Debian's
# source package (see cmake/SquishWindows.cmake, included when cross-compiling), and so
# does the WebAssembly tree (web/).
if(WIN32 OR EMSCRIPTEN)
  include(${CMAKE_CURRENT_LIST_DIR}/SquishWindows.cmake OPTIONAL RESULT_VARIABLE _squish_win)
  if(NOT _squish_win)
    message(FATAL_ERROR "cmake/SquishWindows.cmake is missing")
  endif()
else()
  find_path(SQUISH_INCLUDE_DIR squish.h REQUIRED)
  find_library(SQUISH_LIBRARY NAMES squish REQUIRED)
  add_library(squish UNKNOWN IMPORTED)
  set_target_properties(squish PROPERTIES
    IMPORTED_LOCATION ${SQUISH_LIBRARY}
    INTERFACE_INCLUDE_DIRECTORIES ${SQUISH_INCLUDE_DIR})
endif()
