# Installation of the plug-in, into a staging folder of the build tree:
#   cmake --install with DESTDIR puts it into GIMP's plug-in folder below the stage;
#   gimp/install-user.sh puts it into the user's GIMP folder (GIMP2_DIRECTORY, else
#   XDG_CONFIG_HOME, else ~/.config).
# Variables: BUILD (the build tree), STAGE, PLUGIN (the built file-blp), PLUGIN_DIR
# (GIMP's system plug-in folder), SCRIPT (install-user.sh).
file(REMOVE_RECURSE "${STAGE}")

function(expect_installed path)
  if(NOT EXISTS "${path}")
    message(FATAL_ERROR "not installed: ${path}")
  endif()
  execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${PLUGIN}" "${path}" RESULT_VARIABLE same)
  if(NOT same EQUAL 0)
    message(FATAL_ERROR "${path} is not the built plug-in")
  endif()
  execute_process(COMMAND test -x "${path}" RESULT_VARIABLE executable)
  if(NOT executable EQUAL 0)
    message(FATAL_ERROR "${path} is not executable")
  endif()
endfunction()

execute_process(COMMAND "${CMAKE_COMMAND}" -E env "DESTDIR=${STAGE}/root"
                        "${CMAKE_COMMAND}" --install "${BUILD}" --component gimp-plugin
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed:\n${out}")
endif()
expect_installed("${STAGE}/root${PLUGIN_DIR}/file-blp/file-blp")

execute_process(COMMAND "${CMAKE_COMMAND}" -E env "GIMP2_DIRECTORY=${STAGE}/gimp-dir" sh "${SCRIPT}" "${PLUGIN}"
                RESULT_VARIABLE rc OUTPUT_QUIET)
expect_installed("${STAGE}/gimp-dir/plug-ins/file-blp/file-blp")

execute_process(COMMAND "${CMAKE_COMMAND}" -E env --unset=GIMP2_DIRECTORY --unset=XDG_CONFIG_HOME
                        "HOME=${STAGE}/home" sh "${SCRIPT}" "${PLUGIN}"
                RESULT_VARIABLE rc OUTPUT_QUIET)
expect_installed("${STAGE}/home/.config/GIMP/2.10/plug-ins/file-blp/file-blp")

execute_process(COMMAND "${CMAKE_COMMAND}" -E env --unset=GIMP2_DIRECTORY "XDG_CONFIG_HOME=${STAGE}/xdg"
                        "HOME=${STAGE}/home2" sh "${SCRIPT}" "${PLUGIN}"
                RESULT_VARIABLE rc OUTPUT_QUIET)
expect_installed("${STAGE}/xdg/GIMP/2.10/plug-ins/file-blp/file-blp")

# A second installation replaces the first.
execute_process(COMMAND "${CMAKE_COMMAND}" -E env "GIMP2_DIRECTORY=${STAGE}/gimp-dir" sh "${SCRIPT}" "${PLUGIN}"
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "reinstalling failed")
endif()
file(GLOB leftovers "${STAGE}/gimp-dir/plug-ins/file-blp/.*new")
if(leftovers)
  message(FATAL_ERROR "temporary files left: ${leftovers}")
endif()
