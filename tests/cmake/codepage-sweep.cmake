# The code page sweep: a probe database per code page through both builds'
# engines and plug-ins, Wine's msi.dll the oracle. Needs the Windows build
# folder (-DMSIARC_WINDOWS_BUILD_DIR=<absolute path>) with msidump.exe,
# msiarc_host_batch.exe and msiarc.dll built, msibuild and Python 3.
if(NOT WIN32 AND MSIARC_WINDOWS_BUILD_DIR)
  find_program(MSIARC_MSIBUILD msibuild)
  find_package(Python3 COMPONENTS Interpreter)
  if(MSIARC_MSIBUILD AND Python3_Interpreter_FOUND)
    add_test(NAME e2e_codepage_sweep
      COMMAND ${CMAKE_SOURCE_DIR}/scripts/e2e/codepage-sweep.sh
              ${MSIARC_WINDOWS_BUILD_DIR} ${CMAKE_BINARY_DIR})
    set_tests_properties(e2e_codepage_sweep PROPERTIES TIMEOUT 1800)
  endif()
endif()
