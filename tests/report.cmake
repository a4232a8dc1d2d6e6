# The study report: PNG images, the carpet plot, the page.
tessel_add_test(report_png_test SOURCES report_png_test.cpp LIBS tessel_report)
tessel_add_test(report_carpet_test SOURCES report_carpet_test.cpp LIBS tessel_report)
tessel_add_test(report_page_test SOURCES report_page_test.cpp LIBS tessel_report)
