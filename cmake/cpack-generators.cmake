# Read by cpack once per generator: each package installs its own component
# of the build (cmake/packaging.cmake), the Debian package the FHS layout,
# the zip the flat one a file manager installs from.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_INSTALL_CMAKE_PROJECTS "${CPACK_MSIARC_BUILD_DIR};msiarc;deb;/")
elseif(CPACK_GENERATOR STREQUAL "ZIP")
  set(CPACK_INSTALL_CMAKE_PROJECTS "${CPACK_MSIARC_BUILD_DIR};msiarc;zip;/")
  set(CPACK_PACKAGE_FILE_NAME "${CPACK_MSIARC_ZIP_NAME}")
endif()
