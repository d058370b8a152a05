# Install rules and packages: `cmake --build --preset native-release --target
# package` makes a Debian package, `cmake --build --preset windows --target
# package` a zip.
#
# Linux: PREFIX/bin/msiarc, the plug-in in PREFIX/lib/msiarc/ (where the
# host looks when there is no library beside it), README and licence in
# PREFIX/share/doc/msiarc/. Windows: msiarc.dll and msiarc.exe side by side
# with README and licence, ready to be copied into a plug-in folder.
set(MSIARC_DOCS ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/LICENSE)
if(WIN32)
  install(PROGRAMS $<TARGET_FILE:msiarc> $<TARGET_FILE:msiarc_host> DESTINATION .)
  install(FILES ${MSIARC_DOCS} DESTINATION .)
else()
  install(TARGETS msiarc_host RUNTIME DESTINATION bin)
  install(TARGETS msiarc LIBRARY DESTINATION lib/msiarc)
  install(FILES ${MSIARC_DOCS} DESTINATION share/doc/msiarc)
endif()

set(CPACK_PACKAGE_NAME msiarc)
set(CPACK_PACKAGE_VENDOR "the msiarc developers")
set(CPACK_PACKAGE_CONTACT "the msiarc developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Windows Installer databases as read-only archives in a file manager")
set(CPACK_PACKAGE_DESCRIPTION
  "A packer plug-in for two-pane file managers that shows a Windows Installer \
database (.msi, .msm, .msp, .mst, .pcp) as a read-only archive: the summary \
information and each table as a .csv file, and the streams as files. \
Includes msiarc, a command-line host that lists, tests and extracts \
databases through the plug-in.")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${CMAKE_SOURCE_DIR}/README.md)
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
include(CPack)
