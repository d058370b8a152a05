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
