# The shipped plugin's compilers: MinGW-w64 i686 with the win32 thread model, so
# that no winpthreads (its exception handler, its thread-suspension imports)
# comes into the game's process.
set(MORVA_MINGW_THREADS win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-i686.cmake)
