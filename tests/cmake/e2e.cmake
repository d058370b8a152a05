# End-to-end checks over the corpus.
if(NOT WIN32)
  # The two builds give the same archive: listings and extracted trees.
  # Needs the Windows build folder (-DMSIARC_WINDOWS_BUILD_DIR=<absolute path>)
  # with msiarc.exe and msiarc.dll built.
  if(MSIARC_WINDOWS_BUILD_DIR)
    add_test(NAME e2e_builds_give_same_archive
      COMMAND ${CMAKE_SOURCE_DIR}/scripts/e2e/compare-builds.sh
              ${CMAKE_BINARY_DIR} ${MSIARC_WINDOWS_BUILD_DIR})
    set_tests_properties(e2e_builds_give_same_archive PROPERTIES
      TIMEOUT 3600
      ENVIRONMENT "MSIARC_CORPUS_DIR=${MSIARC_CORPUS_DIR}")
    # Probe databases built for the text rules.
    add_test(NAME e2e_builds_give_same_text
      COMMAND ${CMAKE_SOURCE_DIR}/scripts/e2e/compare-builds.sh
              ${CMAKE_BINARY_DIR} ${MSIARC_WINDOWS_BUILD_DIR}
              ${MSIARC_FIXTURE_DIR}/tables-text.msi
              ${MSIARC_FIXTURE_DIR}/no-validation.msi
              ${MSIARC_FIXTURE_DIR}/table-names.msi)
    set_tests_properties(e2e_builds_give_same_text PROPERTIES TIMEOUT 600)
  endif()
endif()

# The native build against an independent reader (msitools): table cells and
# stream bytes.
if(NOT WIN32)
  find_program(MSIARC_MSIINFO msiinfo)
  find_package(Python3 COMPONENTS Interpreter)
  if(MSIARC_MSIINFO AND Python3_Interpreter_FOUND)
    add_test(NAME e2e_archive_matches_msitools
      COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/scripts/e2e/check-msitools.py
              ${CMAKE_BINARY_DIR})
    set_tests_properties(e2e_archive_matches_msitools PROPERTIES
      TIMEOUT 1800
      ENVIRONMENT "MSIARC_CORPUS_DIR=${MSIARC_CORPUS_DIR}")
    add_test(NAME e2e_text_matches_msitools
      COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/scripts/e2e/check-msitools.py
              ${CMAKE_BINARY_DIR} ${MSIARC_FIXTURE_DIR}/tables-text.msi
              ${MSIARC_FIXTURE_DIR}/no-validation.msi
              ${MSIARC_FIXTURE_DIR}/ren-csv.msi ${MSIARC_FIXTURE_DIR}/types.msi
              ${MSIARC_FIXTURE_DIR}/table-names.msi)
    set_tests_properties(e2e_text_matches_msitools PROPERTIES TIMEOUT 600)
  endif()
endif()
