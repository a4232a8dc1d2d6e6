# The folders' dependencies point one way and only plugin/ knows the host:
# the check runs on the sources, on the build host (no emulator needed).

# tessel_add_layering_check(<name> <tree>)
function(tessel_add_layering_check name tree)
  add_test(NAME ${name}
           COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${tree}
                   -DHOST_LIST=${PROJECT_SOURCE_DIR}/plugin/host_function_list.inc
                   -P ${PROJECT_SOURCE_DIR}/cmake/check_layers.cmake)
endfunction()
tessel_add_layering_check(layering_check ${PROJECT_SOURCE_DIR})

# The check itself, on a small tree with one fault of each kind beside
# includes and names that are allowed. designmatrix/ and motion/ include each
# other: the circle shows as the include that points up.
set(tree ${CMAKE_CURRENT_BINARY_DIR}/layering-fixture)
file(REMOVE_RECURSE ${tree})
foreach(folder designmatrix motion fmr tasks plugin hostsim tests examples)
  file(WRITE ${tree}/${folder}/CMakeLists.txt "")
endforeach()
file(WRITE ${tree}/designmatrix/sdm.h "#include \"motion/volume.h\"\n")
file(WRITE ${tree}/designmatrix/sdm.cpp "#include \"designmatrix/sdm.h\"\n// xzrLogText, zrLogTextOf: no host's\n")
file(WRITE ${tree}/motion/volume.h "#include \"designmatrix/sdm.h\"\n// #include \"tasks/host.h\"\n")
file(WRITE ${tree}/fmr/reader.cpp
  "#include <motion/volume.h>\n  #  include \"tasks/host.h\"\nvoid f() { zrLogText(\"\"); }\n")
file(WRITE ${tree}/tasks/task.cpp "#include \"fmr/reader.h\"\n#include \"plugin/host_api.h\"\n")
file(WRITE ${tree}/plugin/host.cpp
  "#include \"tasks/task.h\"\n#include \"plugin/host_api.h\"\n// zrPlotLine\n#include \"tests/fake.h\"\n")
file(WRITE ${tree}/hostsim/exports.cpp "#include \"plugin/host_functions.h\"\nvoid zrPlotLine() {}\n")
file(WRITE ${tree}/tests/fake.cpp "#include \"plugin/host_api.h\"\nvoid zrResizePlot() {}\n")
file(WRITE ${tree}/examples/job.cpp "#include \"plugin/host_functions.h\"\n")
tessel_add_layering_check(layering_check_finds_faults ${tree})
set_tests_properties(layering_check_finds_faults PROPERTIES PASS_REGULAR_EXPRESSION [[
designmatrix/sdm.h: includes "motion/volume.h": designmatrix/ may not include motion/
fmr/reader.cpp: includes "tasks/host.h": fmr/ may not include tasks/
tasks/task.cpp: includes "plugin/host_api.h": tasks/ may not include plugin/
plugin/host.cpp: includes "tests/fake.h": plugin/ may not include tests/
examples/job.cpp: includes "plugin/host_functions.h", which only plugin/, hostsim/ and tests/ may
fmr/reader.cpp: names the host function zrLogText, which only plugin/, hostsim/ and tests/ may
tasks/task.cpp: includes "plugin/host_api.h", which only plugin/, hostsim/ and tests/ may
.*Layering check of[^0-9a-z]+.*: 7[^0-9a-z]+violations]])
