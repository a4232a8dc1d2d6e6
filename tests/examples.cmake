# The user's side: the dialog script and help page (node's own test runner),
# the install layout, and the sample job. Linux builds only: node and bash are
# not part of the Windows test run under wine.
if(NOT WIN32)
  find_program(TESSEL_NODE node)
  set(TESSEL_JS_TESTS
    ${PROJECT_SOURCE_DIR}/tests/js/tessel_dialog.test.js
    ${PROJECT_SOURCE_DIR}/tests/js/help_page.test.js)
  if(TESSEL_NODE)
    add_test(NAME dialog_script_and_help_page COMMAND ${TESSEL_NODE} --test ${TESSEL_JS_TESTS})
  else()
    # Fail loudly instead of dropping the tests on a machine without node.
    add_test(NAME dialog_script_and_help_page
             COMMAND ${CMAKE_COMMAND} -E echo "node not found: the dialog script tests need it")
    set_tests_properties(dialog_script_and_help_page PROPERTIES WILL_FAIL ON)
  endif()

  # The install holds exactly the library, the dialog script and the help page.
  add_test(NAME install_layout
           COMMAND bash -c [[
set -eu
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$1" --prefix "$prefix" >/dev/null
actual=$(cd "$prefix" && find . ! -type d | sort | tr '\n' ' ')
expected="./HelpFolder/index.html ./Tessel.js ./libTessel.so "
if [ "$actual" != "$expected" ]; then
  echo "install holds: $actual"; echo "expected:      $expected"; exit 1
fi
cmp "$prefix/Tessel.js" "$2/resources/Tessel.js"
cmp "$prefix/HelpFolder/index.html" "$2/resources/HelpFolder/index.html"
echo "install layout ok"
]] install_layout ${CMAKE_BINARY_DIR} ${PROJECT_SOURCE_DIR})
endif()

# The sample job end to end on the built programs: it fails when the simulator
# or a task fails, or when an output it lists is missing.
if(NOT WIN32)
  add_test(NAME sample_job
           COMMAND bash ${PROJECT_SOURCE_DIR}/examples/run-sample --no-build
                   --build-dir ${CMAKE_BINARY_DIR} ${CMAKE_CURRENT_BINARY_DIR}/sample_job)
  set_tests_properties(sample_job PROPERTIES TIMEOUT 300)
endif()
