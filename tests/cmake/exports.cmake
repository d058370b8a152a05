# The plug-in library's export list (and, for the DLL, its import list).
if(WIN32)
  set(MSIARC_OBJDUMP ${CMAKE_OBJDUMP})
  if(NOT MSIARC_OBJDUMP)
    set(MSIARC_OBJDUMP x86_64-w64-mingw32-objdump)
  endif()
  add_test(NAME ExportsAndImports
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/check-exports.sh $<TARGET_FILE:msiarc> ${MSIARC_OBJDUMP})
else()
  add_test(NAME ExportsAndImports
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/check-exports.sh $<TARGET_FILE:msiarc>)
endif()

# The command-line host as a user runs it: it finds the library beside
# itself, and names what a library without the exports lacks.
add_test(NAME HostCaps COMMAND msiarc_host caps)
set_tests_properties(HostCaps PROPERTIES
  PASS_REGULAR_EXPRESSION "^196\r?\n.*recognises archives by content")
if(WIN32)
  set(MSIARC_FOREIGN_LIBRARY kernel32.dll)
else()
  set(MSIARC_FOREIGN_LIBRARY libc.so.6)
endif()
add_test(NAME HostReportsMissingExports
  COMMAND msiarc_host --plugin ${MSIARC_FOREIGN_LIBRARY} caps)
set_tests_properties(HostReportsMissingExports PROPERTIES
  PASS_REGULAR_EXPRESSION "does not export: OpenArchive OpenArchiveW")
