# Libraries the web page needs besides the core (zlib, libspng) are compiled from Debian's
# own source packages, as the Windows trees do with libsquish: `apt-get source` (it needs
# the deb-src entry that scripts/setup.sh adds), unpacked with Debian's patches into the
# build tree, never committed.
#
# vellum_debian_source(PACKAGE OUT_VAR PROBE): sets OUT_VAR to the unpacked source folder;
# PROBE is a file inside it whose presence means the folder is complete.
function(vellum_debian_source package out_var probe)
  set(work "${CMAKE_BINARY_DIR}/_deps/${package}")
  set(dir "${work}/source")
  if(NOT EXISTS "${dir}/${probe}")
    file(REMOVE_RECURSE "${work}")
    file(MAKE_DIRECTORY "${work}")
    message(STATUS "${package}: apt-get source ${package} into ${work}")
    execute_process(
      COMMAND apt-get source --download-only ${package}
      WORKING_DIRECTORY "${work}"
      RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
    file(GLOB dsc "${work}/${package}_*.dsc")
    if(NOT rc EQUAL 0 OR NOT dsc)
      message(FATAL_ERROR "${package}: `apt-get source ${package}` failed (run scripts/setup.sh "
                          "for the deb-src entry):\n${err}")
    endif()
    list(GET dsc 0 dsc)
    execute_process(
      COMMAND dpkg-source --no-check -x "${dsc}" source
      WORKING_DIRECTORY "${work}"
      RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
    if(NOT rc EQUAL 0 OR NOT EXISTS "${dir}/${probe}")
      message(FATAL_ERROR "${package}: unpacking ${dsc} failed:\n${err}")
    endif()
  endif()
  set(${out_var} "${dir}" PARENT_SCOPE)
endfunction()
