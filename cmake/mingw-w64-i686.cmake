# Cross build for 32-bit x86 Windows with Debian's MinGW-w64 compilers, posix threading variant (the win32
# variant has no std::thread). Use: cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(TARNWICK_MINGW_TRIPLE i686-w64-mingw32)
# Floating point in SSE2 registers, as on x86-64: the x87 unit's wider intermediate results would make the
# mixer's and the player's rounding differ from every other build (and from the offline render). It asks
# for a processor with SSE2 (Pentium 4, Athlon 64 and everything since).
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
