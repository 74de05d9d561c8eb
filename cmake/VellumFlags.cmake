# Compiler flags shared by every tree.
#
# Byte-identity across builds: the same pixels and options give the same file bytes in the
# native build and in both Windows builds. That needs IEEE single-precision arithmetic done
# the same way everywhere: no fused multiply-add contraction, SSE (never x87) float math on
# i686, and no libm transcendental feeding an output byte (constant tables instead).

set(VELLUM_WARNINGS -Wall -Wextra)
add_compile_options(
  "$<$<COMPILE_LANGUAGE:C,CXX>:${VELLUM_WARNINGS}>"
  "$<$<COMPILE_LANGUAGE:C,CXX>:-ffp-contract=off>")

if(NOT EMSCRIPTEN AND (CMAKE_SYSTEM_PROCESSOR MATCHES "^(i[3-6]86|x86)$" OR CMAKE_SIZEOF_VOID_P EQUAL 4))
  add_compile_options(-msse2 -mfpmath=sse)
endif()

# WebAssembly (web/): IEEE single precision already, no SIMD (the scalar paths give the
# native bytes). Native wasm exceptions, so that the core's bad_alloc handling and the
# DXT bands' fallback to the calling thread work in a build without threads.
if(EMSCRIPTEN)
  add_compile_options(-fwasm-exceptions)
  add_link_options(-fwasm-exceptions)
endif()

# The fuzz tree (clang only) instruments every library for libFuzzer's coverage and always
# runs with the sanitizers below; fuzz/ links the targets with libFuzzer itself.
if(VELLUM_BUILD_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "VELLUM_BUILD_FUZZ needs clang (libFuzzer): -DCMAKE_CXX_COMPILER=clang++")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# AddressSanitizer and UndefinedBehaviorSanitizer, every finding fatal.
if(VELLUM_SANITIZE OR VELLUM_BUILD_FUZZ)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined -fno-sanitize-recover=all)
endif()

find_package(Threads REQUIRED)

# Helper: a static library of one subsystem, with the repository root as include root
# so that code includes "core/blp_reader.h", "jpeg/jpeg_decoder.h" and so on.
function(vellum_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
endfunction()

# Windows trees: static runtime, the Wine test runner, plug-in helpers.
if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/VellumWindows.cmake)
endif()
