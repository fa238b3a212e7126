# Cross-building for 64-bit Windows with Debian's mingw-w64 (the POSIX
# threads flavour, for std::thread), the tests run through wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
# Qt for Windows (tools/windows-qt.sh), when -DVORN_QT_WINDOWS=FOLDER names
# it: found there as if it were part of the MinGW system, its moc, rcc and
# uic those of the machine's own Qt of the same version.
if(VORN_QT_WINDOWS)
  list(APPEND CMAKE_FIND_ROOT_PATH ${VORN_QT_WINDOWS})
  list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VORN_QT_WINDOWS)
  set(QT_HOST_PATH /usr)
  set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake)
endif()
