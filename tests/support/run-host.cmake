# Runs the command-line host once and checks what a user sees:
#   cmake -DPROGRAM=... [-DEMULATOR=...] -DARGS=a|b -DEXIT=N
#         [-DSTDOUT=REGEX] [-DSTDERR=REGEX] -P run-host.cmake
# EXIT is the exit status wanted; STDOUT and STDERR, when given, must match
# the whole of each stream, line ends as "\n" and the last one left off.
# The arguments are separated by "|".
cmake_minimum_required(VERSION 3.25)
string(REPLACE "|" ";" ARGS "${ARGS}")
execute_process(COMMAND ${EMULATOR} ${PROGRAM} ${ARGS}
  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
set(text_STDOUT "${out}")
set(text_STDERR "${err}")
set(problems "")
if(NOT status STREQUAL EXIT)
  string(APPEND problems "exit status ${status}, wanted ${EXIT}\n")
endif()
foreach(stream STDOUT STDERR)
  if(DEFINED ${stream})
    set(text "${text_${stream}}")
    string(REPLACE "\r\n" "\n" text "${text}")
    string(REGEX REPLACE "\n$" "" text "${text}")
    if(NOT text MATCHES "^${${stream}}$")
      string(APPEND problems "${stream} does not match ^${${stream}}$\n")
    endif()
  endif()
endforeach()
if(problems)
  message(FATAL_ERROR "msiarc ${ARGS}:\n${problems}--- stdout:\n${out}--- stderr:\n${err}")
endif()
