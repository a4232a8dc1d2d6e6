# The host simulator: its parts, and runs of the program on the real plug-in.
# The simulator runner (support/simulator.cpp) lives in tessel_test_support so
# that every end-to-end test can use it; the targets it runs are dependencies
# of that library, so building any test builds them.
target_sources(tessel_test_support PRIVATE
  support/json_lines.cpp
  support/simulator.cpp)
target_compile_definitions(tessel_test_support PRIVATE
  TESSEL_SIMULATOR_PATH="$<TARGET_FILE:Zorvane>"
  TESSEL_SIMULATOR_NOVERSION_PATH="$<TARGET_FILE:Zorvane_noversion>"
  TESSEL_SIMULATOR_NOPARAMS_PATH="$<TARGET_FILE:Zorvane_noparams>"
  TESSEL_SIMULATOR_NODOCUMENTID_PATH="$<TARGET_FILE:Zorvane_nodocumentid>"
  TESSEL_PLUGIN_PATH="$<TARGET_FILE:Tessel>")
add_dependencies(tessel_test_support Zorvane Zorvane_noversion Zorvane_noparams
                 Zorvane_nodocumentid Tessel)

tessel_add_test(hostsim_test
  SOURCES
    hostsim_core_test.cpp
    hostsim_run_test.cpp
  LIBS hostsim_core tessel_test_support)

# A plug-in that calls the host functions directly, for the tests above.
add_library(hostsim_probe SHARED
  hostsim_probe_plugin.cpp
  ${PROJECT_SOURCE_DIR}/plugin/zorv_plugin_interface.cpp)
tessel_target_options(hostsim_probe)
if(WIN32)
  set_target_properties(hostsim_probe PROPERTIES PREFIX "")
else()
  target_link_libraries(hostsim_probe PRIVATE ${CMAKE_DL_LIBS})
endif()
add_dependencies(hostsim_test hostsim_probe)
target_compile_definitions(hostsim_test PRIVATE
  TESSEL_PROBE_PLUGIN_PATH="$<TARGET_FILE:hostsim_probe>")
