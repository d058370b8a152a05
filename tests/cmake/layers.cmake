# No file under src/ includes a header of a layer above its own.
add_test(NAME layer_includes
  COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${CMAKE_SOURCE_DIR}/src -P ${CMAKE_SOURCE_DIR}/cmake/check-layers.cmake)
