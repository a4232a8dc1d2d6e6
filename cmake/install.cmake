# `cmake --install <build> --prefix <dir>` lays out the host's plug-ins folder:
#   <dir>/Tessel.dll (libTessel.so on Linux)
#   <dir>/Tessel.js
#   <dir>/HelpFolder/index.html
# The host finds the dialog script and the help page relative to the library,
# so the three stay side by side with nothing else in between: no import
# library, no static libraries, no tests, no simulator.
install(PROGRAMS $<TARGET_FILE:Tessel> DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/resources/Tessel.js DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/resources/HelpFolder/index.html DESTINATION HelpFolder)
