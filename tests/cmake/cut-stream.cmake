# A database that ends inside a stream: both builds extract the bytes the
# file holds and report the entry as short. Needs the Windows build folder
# (-DMSIARC_WINDOWS_BUILD_DIR=<absolute path>) with msiarc.exe and msiarc.dll.
if(NOT WIN32 AND MSIARC_WINDOWS_BUILD_DIR)
  add_test(NAME e2e_cut_stream_builds_agree
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/e2e/compare-cut-stream.sh
            ${CMAKE_BINARY_DIR} ${MSIARC_WINDOWS_BUILD_DIR} ${MSIARC_FIXTURE_DIR}/cut-in-stream.msi)
  set_tests_properties(e2e_cut_stream_builds_agree PROPERTIES TIMEOUT 600)
endif()
