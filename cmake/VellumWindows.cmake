# Settings and helpers of the Windows trees (mingw-w64 cross builds, tests under Wine).
# Included by VellumFlags.cmake when WIN32.

# Plug-ins and test programs depend on Windows system DLLs only: libgcc, libstdc++ and
# winpthread are linked into each module.
add_link_options(-static -static-libgcc -static-libstdc++)

# Every test program runs through the Wine wrapper with this tree's own prefix and display.
set(VELLUM_WINE_STATE "${CMAKE_BINARY_DIR}/wine")
set(CMAKE_CROSSCOMPILING_EMULATOR "${PROJECT_SOURCE_DIR}/cmake/wine-run.sh;${VELLUM_WINE_STATE}")

# A plug-in DLL: the named target with the file name and extension the host expects
# (Vellum64.usr), exports from a .def file only (undecorated names), no "lib" prefix.
function(vellum_plugin_dll target)
  cmake_parse_arguments(P "" "OUTPUT_NAME;SUFFIX;DEF" "SOURCES;LIBRARIES" ${ARGN})
  add_library(${target} SHARED ${P_SOURCES} ${P_DEF})
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${target} PRIVATE ${P_LIBRARIES})
  set_target_properties(${target} PROPERTIES
    PREFIX "" OUTPUT_NAME "${P_OUTPUT_NAME}" SUFFIX "${P_SUFFIX}")
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    # stdcall exports keep their undecorated names on i686 too.
    target_link_options(${target} PRIVATE -Wl,--enable-stdcall-fixup -Wl,--kill-at)
  endif()
endfunction()

# Registers a test that a module imports nothing but Windows system DLLs.
set(VELLUM_SYSTEM_DLLS
  KERNEL32.dll USER32.dll GDI32.dll COMDLG32.dll COMCTL32.dll ADVAPI32.dll SHELL32.dll
  msvcrt.dll ntdll.dll ole32.dll OLEAUT32.dll WS2_32.dll api-ms-win-crt-*)
function(vellum_import_check target)
  add_test(NAME ${target}.imports.system_only
    COMMAND ${CMAKE_COMMAND}
      -DOBJDUMP=${CMAKE_OBJDUMP} -DMODULE=$<TARGET_FILE:${target}>
      "-DALLOWED=${VELLUM_SYSTEM_DLLS}"
      -P ${PROJECT_SOURCE_DIR}/cmake/CheckImports.cmake)
endfunction()
