# The command-line host as a user meets it: its version is the packages'
# version, and an archive that cannot be opened is reported with the
# system's reason, as "unknown format" when the file is there but is not a
# database, and as "archive is damaged" when it is a database cut short.
# Runs under the emulator for the Windows build.
if(WIN32)
  # The system's messages: Windows' words, or Wine's.
  set(reason_Missing "(The system cannot find the file specified|File not found)\\.")
  set(reason_Folder "Access (is )?denied\\.")
else()
  set(reason_Missing "No such file or directory")
  set(reason_Folder "Is a directory")
endif()

# msiarc_host_case(NAME ARGS EXIT STREAM REGEX): ARGS separated by "|",
# REGEX against the whole of STREAM (STDOUT or STDERR) less its last line
# end (tests/support/run-host.cmake).
function(msiarc_host_case name args exit stream regex)
  add_test(NAME HostCli_${name}
    COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:msiarc_host>
            "-DEMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR}" "-DARGS=${args}"
            -DEXIT=${exit} "-D${stream}=${regex}"
            -P ${CMAKE_CURRENT_SOURCE_DIR}/support/run-host.cmake
    WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR})
endfunction()

foreach(option --version -V)
  msiarc_host_case(Version${option} ${option} 0 STDOUT
    "msiarc ${PROJECT_VERSION}")
endforeach()
msiarc_host_case(HelpNamesVersion --help 0 STDOUT ".*-V, --version +show the version.*")
# Each command that opens an archive, on a file that is missing, a folder,
# a file that is not a database and a database cut short.
set(file_Missing no-such.msi)
set(file_Folder cmake)
set(file_NotDatabase CMakeLists.txt)
set(reason_NotDatabase "unknown format")
set(file_CutShort ${MSIARC_FIXTURE_DIR}/cut-short.msi)
set(reason_CutShort "archive is damaged")
foreach(command list test extract)
  set(dest "")
  if(command STREQUAL extract)
    set(dest "|${CMAKE_CURRENT_BINARY_DIR}/host-cli-out")
  endif()
  foreach(what Missing Folder NotDatabase CutShort)
    set(file ${file_${what}})
    msiarc_host_case(${command}${what} "${command}|${file}${dest}" 1 STDERR
      "msiarc ${command}: ${file}: ${reason_${what}}")
  endforeach()
endforeach()
