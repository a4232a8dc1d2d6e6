# The study report: PNG images, the carpet plot, the page.
tessel_add_test(report_png_test SOURCES report_png_test.cpp LIBS tessel_report)
tessel_add_test(report_carpet_test SOURCES report_carpet_test.cpp LIBS tessel_report)
tessel_add_test(report_page_test SOURCES report_page_test.cpp LIBS tessel_report)

# The page of a synthetic study (examples/report_sample_page) in headless
# Chromium. Linux builds only: node and the browser are not part of the
# Windows test run under wine.
if(NOT WIN32)
  find_program(TESSEL_NODE node)
  find_program(TESSEL_CHROMIUM NAMES chromium chromium-browser)
  if(TESSEL_NODE AND TESSEL_CHROMIUM)
    add_test(NAME report_page_in_chromium
             COMMAND ${TESSEL_NODE} ${CMAKE_CURRENT_SOURCE_DIR}/browser/report_page.js
                     $<TARGET_FILE:report_sample_page> ${TESSEL_CHROMIUM})
    set_tests_properties(report_page_in_chromium PROPERTIES TIMEOUT 180)
    # The sample study's report, written by the plug-in in the simulator.
    add_test(NAME sample_report_in_chromium
             COMMAND ${TESSEL_NODE} ${CMAKE_CURRENT_SOURCE_DIR}/browser/report_page.js
                     ${CMAKE_CURRENT_SOURCE_DIR}/browser/sample_study_report.sh ${TESSEL_CHROMIUM})
    set_tests_properties(sample_report_in_chromium PROPERTIES TIMEOUT 300
      ENVIRONMENT "TESSEL_SAMPLE_STUDY=$<TARGET_FILE:sample_study>;TESSEL_SIMULATOR=$<TARGET_FILE:Zorvane>;TESSEL_PLUGIN=$<TARGET_FILE:Tessel>")
  else()
    # Fail loudly instead of dropping the test on a machine without them.
    add_test(NAME report_page_in_chromium
             COMMAND ${CMAKE_COMMAND} -E echo
                     "node or chromium not found: the report page test needs both")
    set_tests_properties(report_page_in_chromium PROPERTIES WILL_FAIL ON)
  endif()
endif()
