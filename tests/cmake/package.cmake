# The packages of this build folder (scripts/check-package.sh): the install
# zip (pluginst.inf, the plug-in under the name hosts give it, the host,
# README, licence; unpacked, its host lists a database through the plug-in
# beside it, under wine for the Windows build) and natively the Debian
# package (its files, lintian without an error, the manual page, and a host
# that finds its plug-in without --plugin wherever it is unpacked).
add_test(NAME PackageContents
  COMMAND ${CMAKE_SOURCE_DIR}/scripts/check-package.sh ${CMAKE_BINARY_DIR})
set_tests_properties(PackageContents PROPERTIES
  TIMEOUT 300
  ENVIRONMENT "MSIARC_CORPUS_DIR=${MSIARC_CORPUS_DIR}")
