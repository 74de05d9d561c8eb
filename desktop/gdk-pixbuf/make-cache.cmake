# Writes a gdk-pixbuf loader cache for running programs from the build tree
# (GDK_PIXBUF_MODULE_FILE=<tree>/desktop/gdk-pixbuf/loaders.cache): the system's loaders
# and this tree's BLP loader.
#   cmake -DQUERY=<gdk-pixbuf-query-loaders> -DSYSTEM_DIR=<module dir> -DLOADER=<our module> -DOUT=<cache> -P make-cache.cmake
file(GLOB system_loaders "${SYSTEM_DIR}/*.so")
list(FILTER system_loaders EXCLUDE REGEX "libpixbufloader-blp\\.so$")
execute_process(COMMAND "${QUERY}" ${system_loaders} "${LOADER}" OUTPUT_FILE "${OUT}.new" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "gdk-pixbuf-query-loaders failed (${result})")
endif()
file(RENAME "${OUT}.new" "${OUT}")
