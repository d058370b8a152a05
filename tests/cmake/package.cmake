# The package of this build folder (a .deb natively, a zip for Windows):
# exactly the files it should install, and natively, unpacked anywhere, a
# host that finds its plug-in without --plugin.
add_test(NAME PackageContents
  COMMAND ${CMAKE_SOURCE_DIR}/scripts/check-package.sh ${CMAKE_BINARY_DIR})
set_tests_properties(PackageContents PROPERTIES
  TIMEOUT 300
  ENVIRONMENT "MSIARC_CORPUS_DIR=${MSIARC_CORPUS_DIR}")
