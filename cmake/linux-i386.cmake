# The engine and its tests for 32-bit x86 Linux with the build machine's multilib GCC (g++-multilib), made
# the way the 32-bit Windows exe is made: the same processor, pointer size and floating-point code. Without
# SDL2, OpenGL or FFmpeg for this target, only what needs no display is built (TARNWICK_NO_DISPLAY).
# Use: cmake -S . -B build-i386 -DCMAKE_TOOLCHAIN_FILE=cmake/linux-i386.cmake
#      [-DCMAKE_CROSSCOMPILING_EMULATOR=/usr/bin/qemu-i386 where this kernel runs no 32-bit code]
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
# As the Windows exe (mingw-w64-i686.cmake): floating point in SSE2 registers, never the x87 unit's wider
# intermediates, so the mixer's and the player's rounding is that of the build that ships.
set(CMAKE_C_FLAGS_INIT "-m32 -msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-m32 -msse2 -mfpmath=sse")

# Libraries only from the 32-bit folders: the build machine's own (x86-64) ones must never be picked.
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(CMAKE_IGNORE_PATH /usr/lib/x86_64-linux-gnu /lib/x86_64-linux-gnu)

set(TARNWICK_NO_DISPLAY ON CACHE BOOL "Build only the engine and the tests that need no display")
