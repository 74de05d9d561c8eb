# Cross-compiling for x86_64 Windows with Debian's mingw-w64 compilers (posix thread model,
# so that std::thread works; winpthread is linked statically, see VellumFlags.cmake).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VELLUM_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VELLUM_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELLUM_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VELLUM_MINGW_TRIPLET}-windres)
set(CMAKE_OBJDUMP ${VELLUM_MINGW_TRIPLET}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${VELLUM_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs run under Wine, each tree with its own prefix (see cmake/wine-run.sh).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
