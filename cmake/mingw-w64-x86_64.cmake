# Cross-compiles for 64-bit Windows with Debian's mingw-w64. Only the rooms
# below the windows are built for Windows; see the README.
#   cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(QUERLIN_MINGW_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
