# libsquish for the Windows trees, built from Debian's own source package so that
# squish::CompressMasked gives blocks byte-identical to Debian's native libsquish0.
#
# How Debian builds libsquish0 (1.15-3): debhelper drives upstream's GNU makefile with the
# `config` file as patched by Debian: USE_SSE 0 (the scalar Vec4 of simd_float.h, no
# SQUISH_USE_SSE), USE_OPENMP 1, and dpkg-buildflags' CXXFLAGS (-g -O2 plus hardening
# flags that do not touch float code). We compile the same sources the same way: -O2,
# scalar code, no fused multiply-add, and on i686 SSE2 float math (-msse2 -mfpmath=sse,
# added for every 32-bit target by VellumFlags.cmake); x87 math or squish's SSE path would
# give different blocks. OpenMP only parallelises squish::CompressImage, which we do not
# call, so it is left out (no libgomp in the plug-ins).
#
# The source package is fetched once per build tree with `apt-get source` (it needs the
# deb-src entry that scripts/setup.sh adds) into the build tree; it is never committed.
# VELLUM_SQUISH_SOURCE_DIR may point at an unpacked copy instead.

set(VELLUM_SQUISH_SOURCE_DIR "" CACHE PATH "Unpacked libsquish source (empty: apt-get source)")

set(_squish_dir "${VELLUM_SQUISH_SOURCE_DIR}")
if(NOT _squish_dir)
  set(_squish_work "${CMAKE_BINARY_DIR}/_deps/libsquish")
  set(_squish_dir "${_squish_work}/source")
  if(NOT EXISTS "${_squish_dir}/squish.cpp")
    file(REMOVE_RECURSE "${_squish_work}")
    file(MAKE_DIRECTORY "${_squish_work}")
    message(STATUS "libsquish: apt-get source libsquish into ${_squish_work}")
    execute_process(
      COMMAND apt-get source --download-only libsquish
      WORKING_DIRECTORY "${_squish_work}"
      RESULT_VARIABLE _squish_rc OUTPUT_QUIET ERROR_VARIABLE _squish_err)
    file(GLOB _squish_dsc "${_squish_work}/libsquish_*.dsc")
    if(NOT _squish_rc EQUAL 0 OR NOT _squish_dsc)
      message(FATAL_ERROR "libsquish: `apt-get source libsquish` failed (run scripts/setup.sh "
                          "for the deb-src entry, or set VELLUM_SQUISH_SOURCE_DIR):\n${_squish_err}")
    endif()
    list(GET _squish_dsc 0 _squish_dsc)
    # dpkg-source applies Debian's patches, as the package build does.
    execute_process(
      COMMAND dpkg-source --no-check -x "${_squish_dsc}" source
      WORKING_DIRECTORY "${_squish_work}"
      RESULT_VARIABLE _squish_rc OUTPUT_QUIET ERROR_VARIABLE _squish_err)
    if(NOT _squish_rc EQUAL 0 OR NOT EXISTS "${_squish_dir}/squish.cpp")
      message(FATAL_ERROR "libsquish: unpacking ${_squish_dsc} failed:\n${_squish_err}")
    endif()
  endif()
endif()

add_library(squish STATIC
  ${_squish_dir}/alpha.cpp
  ${_squish_dir}/clusterfit.cpp
  ${_squish_dir}/colourblock.cpp
  ${_squish_dir}/colourfit.cpp
  ${_squish_dir}/colourset.cpp
  ${_squish_dir}/maths.cpp
  ${_squish_dir}/rangefit.cpp
  ${_squish_dir}/singlecolourfit.cpp
  ${_squish_dir}/squish.cpp)
target_include_directories(squish SYSTEM PUBLIC ${_squish_dir})
# -O2 as Debian builds it (the tree's Release -O3 comes first and is overridden); no
# warnings from third-party code in our zero-warning build.
target_compile_options(squish PRIVATE -O2 -w)
target_compile_definitions(squish PRIVATE SQUISH_USE_SSE=0 SQUISH_USE_ALTIVEC=0)
