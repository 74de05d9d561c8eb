# The fuzz entries (fuzz_entries.h): linked into the libFuzzer targets of fuzz/ and into the
# replay test of tests/regression, which runs them without libFuzzer in every native tree.
set(VELLUM_FUZZ_ENTRY_SOURCES
  ${PROJECT_SOURCE_DIR}/fuzz/fuzz_support.cpp
  ${PROJECT_SOURCE_DIR}/fuzz/entry_blp_reader.cpp
  ${PROJECT_SOURCE_DIR}/fuzz/entry_jpeg_decoder.cpp
  ${PROJECT_SOURCE_DIR}/fuzz/entry_photoshop_read.cpp
  ${PROJECT_SOURCE_DIR}/fuzz/entry_imagine_load.cpp
  ${PROJECT_SOURCE_DIR}/fuzz/entry_name_scan.cpp
  ${PROJECT_SOURCE_DIR}/fuzz/entry_blp_writer.cpp
  ${PROJECT_SOURCE_DIR}/fuzz/entry_level_load.cpp
  ${PROJECT_SOURCE_DIR}/fuzz/entry_library.cpp
  ${PROJECT_SOURCE_DIR}/fuzz/entry_image_input.cpp
  ${PROJECT_SOURCE_DIR}/fuzz/entry_dds.cpp
  ${PROJECT_SOURCE_DIR}/fuzz/entry_shell.cpp
  # The fake Imagine host of the plug-in's tests (the Photoshop test host is header-only).
  ${PROJECT_SOURCE_DIR}/tests/imagine/fake_host.cpp)

function(vellum_fuzz_entries name)
  add_library(${name} STATIC ${VELLUM_FUZZ_ENTRY_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PUBLIC vellum_xnview vellum_photoshop vellum_imagine vellum_gimp_logic vellum_shell vellum_api vellum_cli_input vellum_dds vellum_core
    Threads::Threads)
endfunction()
