# Corpus comparison of the two engines: msidump over every corpus database
# with msi.dll under wine (the expected answer) and with the native engine.
# Needs a built Windows build folder: configure the native build with
# -DMSIARC_WINDOWS_BUILD_DIR=<absolute path>.
if(NOT WIN32 AND MSIARC_WINDOWS_BUILD_DIR)
  add_test(NAME engine_dump_matches_msi_dll
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/compare-engine-dumps.sh
            ${MSIARC_WINDOWS_BUILD_DIR} ${CMAKE_BINARY_DIR})
  set_tests_properties(engine_dump_matches_msi_dll PROPERTIES
    TIMEOUT 3600
    ENVIRONMENT "MSIARC_CORPUS_DIR=${MSIARC_CORPUS_DIR}")
endif()
