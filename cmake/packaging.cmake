# Install rules and packages. The version of every package, of `msiarc
# --version`, of the manual page and of pluginst.inf is PROJECT_VERSION.
#
#   cmake --build --preset native-release --target package
#     msiarc_VERSION_amd64.deb and msiarc-VERSION-linux-x86_64.zip
#   cmake --build --preset windows --target package
#     msiarc-VERSION-win64.zip
#
# Debian package (component "deb", also what `cmake --install` installs):
# PREFIX/bin/msiarc and its manual page, the plug-in as
# PREFIX/lib/doublecmd/plugins/wcx/msiarc/msiarc.wcx (beside Double
# Commander's own packer plug-ins, where the host looks for it when there is
# none beside it), and README, changelog and copyright in
# PREFIX/share/doc/msiarc/.
#
# Install zips (component "zip"): pluginst.inf, the plug-in (msiarc.wcx64 on
# Windows, msiarc.wcx on Linux), the host, README and licence, all at the
# zip's root, as file managers that install a plug-in from a zip expect.
set(MSIARC_MAINTAINER "msiarc maintainers <maintainers@users.noreply.c-seed-9a75f0ef.example>"
  CACHE STRING "Maintainer of the packages: Name <address>")
set(MSIARC_PACKAGING ${CMAKE_SOURCE_DIR}/packaging)
set(MSIARC_STAGED ${CMAKE_BINARY_DIR}/packaging)
if(WIN32)
  set(MSIARC_PLUGIN_FILE msiarc.wcx64)
  set(MSIARC_INF_NEWLINES CRLF)
else()
  set(MSIARC_PLUGIN_FILE msiarc.wcx)
  set(MSIARC_INF_NEWLINES UNIX)
endif()
configure_file(${MSIARC_PACKAGING}/pluginst.inf.in ${MSIARC_STAGED}/pluginst.inf
  @ONLY NEWLINE_STYLE ${MSIARC_INF_NEWLINES})

# msiarc_install_plugin(DESTINATION COMPONENT [EXCLUDE_FROM_ALL]): the
# plug-in library, stripped like every installed target, under the name
# MSIARC_PLUGIN_FILE, the name hosts give a packer plug-in.
function(msiarc_install_plugin destination component)
  install(TARGETS msiarc
    LIBRARY DESTINATION ${destination} COMPONENT ${component} ${ARGN}
    RUNTIME DESTINATION ${destination} COMPONENT ${component} ${ARGN})
  set(folder "\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${destination}")
  install(CODE "file(RENAME \"${folder}/$<TARGET_FILE_NAME:msiarc>\" \"${folder}/${MSIARC_PLUGIN_FILE}\")"
    COMPONENT ${component} ${ARGN})
endfunction()

set(MSIARC_ZIP_FILES ${MSIARC_STAGED}/pluginst.inf
  ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/LICENSE)
if(WIN32)
  msiarc_install_plugin(. zip)
  install(TARGETS msiarc_host RUNTIME DESTINATION . COMPONENT zip)
  install(FILES ${MSIARC_ZIP_FILES} DESTINATION . COMPONENT zip)
else()
  # The licence as the machine-readable copyright file wants it: one space
  # before each line, a full stop on the blank ones.
  file(READ ${CMAKE_SOURCE_DIR}/LICENSE licence)
  string(REGEX REPLACE "^.*\n(Permission )" "\\1" licence "${licence}")
  string(STRIP "${licence}" licence)
  string(REGEX REPLACE "\n\n" "\n.\n" licence "${licence}")
  string(REGEX REPLACE "\n" "\n " MSIARC_LICENSE_BODY " ${licence}")
  configure_file(${MSIARC_PACKAGING}/copyright.in ${MSIARC_STAGED}/copyright @ONLY)
  configure_file(${MSIARC_PACKAGING}/changelog.in ${MSIARC_STAGED}/changelog @ONLY)
  configure_file(${MSIARC_PACKAGING}/msiarc.1.in ${MSIARC_STAGED}/msiarc.1 @ONLY)
  # Compressed as Debian wants: best compression, no name or time stamp.
  foreach(page changelog msiarc.1)
    execute_process(COMMAND gzip -9nc ${MSIARC_STAGED}/${page}
      OUTPUT_FILE ${MSIARC_STAGED}/${page}.gz COMMAND_ERROR_IS_FATAL ANY)
  endforeach()

  install(TARGETS msiarc_host RUNTIME DESTINATION bin COMPONENT deb)
  msiarc_install_plugin(lib/doublecmd/plugins/wcx/msiarc deb)
  install(FILES ${MSIARC_STAGED}/msiarc.1.gz DESTINATION share/man/man1 COMPONENT deb)
  install(FILES ${CMAKE_SOURCE_DIR}/README.md ${MSIARC_STAGED}/changelog.gz
    ${MSIARC_STAGED}/copyright DESTINATION share/doc/msiarc COMPONENT deb)

  msiarc_install_plugin(. zip EXCLUDE_FROM_ALL)
  install(TARGETS msiarc_host RUNTIME DESTINATION . COMPONENT zip EXCLUDE_FROM_ALL)
  install(FILES ${MSIARC_ZIP_FILES} DESTINATION . COMPONENT zip EXCLUDE_FROM_ALL)
endif()

set(CPACK_PACKAGE_NAME msiarc)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "the msiarc developers")
set(CPACK_PACKAGE_CONTACT "${MSIARC_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Windows Installer databases as read-only archives in a file manager")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${CMAKE_SOURCE_DIR}/README.md)
set(CPACK_STRIP_FILES ON)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
# Each generator installs one component (cmake/cpack-generators.cmake).
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_SOURCE_DIR}/cmake/cpack-generators.cmake)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_MSIARC_ZIP_NAME msiarc-${PROJECT_VERSION}-win64)
else()
  set(CPACK_GENERATOR DEB ZIP)
  set(CPACK_MSIARC_ZIP_NAME msiarc-${PROJECT_VERSION}-linux-x86_64)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${MSIARC_MAINTAINER}")
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "doublecmd-gtk | doublecmd-qt")
  # The extended description; CPack puts the summary above it.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"A packer plug-in for two-pane file managers (msiarc.wcx, for Double
Commander) that shows a Windows Installer database (msi, msm, msp, mst
or pcp file) as a read-only archive: the summary information and each
table as a CSV file, and the streams as files.

Includes msiarc, a command-line host that lists, tests and extracts
databases through the plug-in.")
endif()
set(CPACK_MSIARC_BUILD_DIR ${CMAKE_BINARY_DIR})
include(CPack)
