# Damaged fixtures against Wine's msi.dll: a root entry whose size ends inside
# the summary information, and summary properties stored with other types.
# The engine dumps and the two builds' archives must agree (named exceptions
# aside). Needs the Windows build folder (-DMSIARC_WINDOWS_BUILD_DIR=...).
if(NOT WIN32 AND MSIARC_WINDOWS_BUILD_DIR)
  set(damaged ${MSIARC_FIXTURE_DIR}/root-ends-in-summary.msi ${MSIARC_FIXTURE_DIR}/summary-types.msi)
  add_test(NAME engine_dump_matches_msi_dll_damaged_fixtures
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/compare-engine-dumps.sh --batch
            ${MSIARC_WINDOWS_BUILD_DIR} ${CMAKE_BINARY_DIR} ${damaged})
  add_test(NAME e2e_damaged_fixtures_builds_agree
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/e2e/compare-builds.sh --batch
            ${CMAKE_BINARY_DIR} ${MSIARC_WINDOWS_BUILD_DIR} ${damaged})
  set_tests_properties(engine_dump_matches_msi_dll_damaged_fixtures e2e_damaged_fixtures_builds_agree
    PROPERTIES TIMEOUT 600)
endif()
