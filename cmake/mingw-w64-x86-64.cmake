# Cross build for 64-bit x86 Windows with Debian's MinGW-w64 compilers, posix threading variant. The same
# Win32 source as the 32-bit build; this one is what the tests run under Wine on a 64-bit-only machine.
# Use: cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86-64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(TARNWICK_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
