# Cross build of the Windows plug-in with MinGW-w64 (posix threading model).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# zlib (libz-mingw-w64-dev) as its static libz.a, not the import library of
# zlib1.dll: the plug-in must import nothing beyond KERNEL32 and msvcrt.
set(ZLIB_USE_STATIC_LIBS ON)

# ctest runs the Windows binaries through wine, in one prefix shared by every
# Windows build of this work tree (a new prefix costs seconds and ~700 MB; it
# is created on first use), and without wine's debug chatter, so that a plain
# `ctest --test-dir <build>` behaves like the test preset. wine_run.sh tries
# again a start that wine could not complete.
find_program(TESSEL_WINE64 NAMES wine64 wine PATHS /usr/lib/wine REQUIRED)
find_program(TESSEL_WINESERVER NAMES wineserver64 wineserver PATHS /usr/lib/wine REQUIRED)
set(TESSEL_WINEPREFIX "${CMAKE_SOURCE_DIR}/build/wineprefix" CACHE PATH
    "Wine prefix the Windows tests run in")
set(CMAKE_CROSSCOMPILING_EMULATOR
    ${CMAKE_COMMAND} -E env WINEDEBUG=-all WINEPREFIX=${TESSEL_WINEPREFIX}
    sh ${CMAKE_CURRENT_LIST_DIR}/wine_run.sh ${TESSEL_WINE64})

# Tools that inspect the built Windows binaries on the build host.
find_program(TESSEL_MINGW_OBJDUMP x86_64-w64-mingw32-objdump)
