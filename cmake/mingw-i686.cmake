# Cross-compiling the Windows build with MinGW-w64 (i686). The simulator and
# the Wine-side tests use the POSIX thread model; the plugin's own tree sets
# MORVA_MINGW_THREADS to win32 first.
if(NOT MORVA_MINGW_THREADS)
  set(MORVA_MINGW_THREADS posix)
endif()
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-${MORVA_MINGW_THREADS})
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-${MORVA_MINGW_THREADS})
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
