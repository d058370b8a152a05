# The two builds name and extract the probe databases alike. Needs the
# Windows build folder, as e2e_builds_give_same_archive does.
if(NOT WIN32 AND MSIARC_WINDOWS_BUILD_DIR)
  # Multi-key stream tables, aliases and names Windows would change, through
  # the command-line hosts: listings and extracted trees.
  set(probes)
  foreach(name multi-key alias-probes windows-names)
    list(APPEND probes ${MSIARC_FIXTURE_DIR}/${name}.msi)
  endforeach()
  add_test(NAME e2e_builds_name_probes_alike
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/e2e/compare-builds.sh
            ${CMAKE_BINARY_DIR} ${MSIARC_WINDOWS_BUILD_DIR} ${probes})
  set_tests_properties(e2e_builds_name_probes_alike PROPERTIES TIMEOUT 1800)
  # The generated names, whose 259 units fit only names given relative to
  # the destination: through the property test of both builds.
  add_test(NAME e2e_builds_write_same_probe_trees
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/e2e/compare-probe-trees.sh
            ${CMAKE_BINARY_DIR} ${MSIARC_WINDOWS_BUILD_DIR}
            ${MSIARC_FIXTURE_DIR}/naming-probes.msi)
  set_tests_properties(e2e_builds_write_same_probe_trees PROPERTIES TIMEOUT 1800)
endif()
