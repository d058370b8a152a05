# Double Commander, a real file manager, loads the Linux plug-in from where
# the Debian package installs it (the package made and unpacked into a
# temporary root) under Xvfb, enters databases by extension and by content
# and copies them out, and tests a damaged one (scripts/e2e/real-host.sh),
# whose cut stream its log must name as damaged data. The file manager cannot
# load a library built with sanitizers, so the test takes a Release build
# folder with msiarc.so and msiarc built: scripts/test.sh builds
# build/native-release and passes -DMSIARC_RELEASE_BUILD_DIR=<absolute
# path>. Screenshots, the file manager's operation log, the package and
# output stay in <this build>/real-host.
set(MSIARC_RELEASE_BUILD_DIR "" CACHE PATH "Release build folder, for the file manager test")
if(NOT WIN32 AND MSIARC_RELEASE_BUILD_DIR)
  add_test(NAME e2e_file_manager_copies_archives_out
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/e2e/real-host.sh
            ${MSIARC_RELEASE_BUILD_DIR} ${CMAKE_BINARY_DIR}/real-host)
  set_tests_properties(e2e_file_manager_copies_archives_out PROPERTIES
    TIMEOUT 900
    ENVIRONMENT "MSIARC_CORPUS_DIR=${MSIARC_CORPUS_DIR};MSIARC_FIXTURE_DIR=${MSIARC_FIXTURE_DIR}")
endif()
