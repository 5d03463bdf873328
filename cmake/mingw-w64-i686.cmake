# Cross-compiles for 32-bit Windows with Debian's mingw-w64. Only the rooms
# below the windows are built for Windows; see the README.
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
set(QUERLIN_MINGW_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
