# A stream larger than the memory the process may take extracts whole, in a
# Release build (a sanitized one cannot run under `ulimit -v`): needs
# -DMSIARC_RELEASE_BUILD_DIR=<absolute path> with msiarc.so and the host
# msiarc built, as scripts/test.sh passes it.
if(NOT WIN32 AND MSIARC_RELEASE_BUILD_DIR)
  add_test(NAME e2e_stream_beyond_memory_extracts_whole
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/e2e/stream-beyond-memory.sh
            ${MSIARC_RELEASE_BUILD_DIR} ${CMAKE_BINARY_DIR}/stream-beyond-memory)
  set_tests_properties(e2e_stream_beyond_memory_extracts_whole PROPERTIES TIMEOUT 600)
endif()
