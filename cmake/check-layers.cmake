# cmake -DSOURCE_DIR=<src> -P check-layers.cmake
#
# Fails when a file under src/ includes a header of a layer above its own.
# A file's layer is the first folder of its path under src/; the layers,
# bottom to top:
set(layers platform engine text archive catalog tree render plugin)

get_filename_component(SOURCE_DIR "${SOURCE_DIR}" ABSOLUTE)
file(GLOB_RECURSE files RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/*.h ${SOURCE_DIR}/*.cpp ${SOURCE_DIR}/*.inc)
set(faults "")
set(count 0)
foreach(file ${files})
  string(REGEX MATCH "^[^/]+" layer "${file}")
  list(FIND layers "${layer}" rank)
  if(rank EQUAL -1)
    string(APPEND faults "  ${file}: not in a layer folder\n")
    continue()
  endif()
  file(STRINGS ${SOURCE_DIR}/${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  foreach(line ${includes})
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1" header "${line}")
    math(EXPR count "${count} + 1")
    string(REGEX MATCH "^[^/]+" included "${header}")
    list(FIND layers "${included}" includedRank)
    if(NOT header MATCHES "/")
      # A header beside the file: its own layer.
      continue()
    elseif(includedRank EQUAL -1)
      string(APPEND faults "  ${file}: includes ${header}, which is in no layer\n")
    elseif(includedRank GREATER rank)
      string(APPEND faults "  ${file} (${layer}): includes ${header} (${included}), a layer above\n")
    endif()
  endforeach()
endforeach()
if(faults)
  string(REPLACE ";" ", " order "${layers}")
  message(FATAL_ERROR "Includes that run up a layer (layers from bottom to top: ${order}):\n${faults}")
endif()
message(STATUS "layers: ${count} includes in ${SOURCE_DIR}, none runs up a layer")
