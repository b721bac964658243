# The Debian packages the project needs, sourced by run.sh and test.sh.
# To build and run the intro (xfonts-base: the X core fonts that SDL's message boxes draw their text with;
# without them no box can be shown and its text goes to standard error instead; EGL and FFmpeg's libraries
# for recording it as a video; OpenGL ES 2.0 for the fixed-function layer the browser build draws through,
# which the native build compiles and checks against real OpenGL).
RUN_PACKAGES=(build-essential cmake pkg-config libsdl2-dev libgl1-mesa-dev libglu1-mesa-dev libgl1-mesa-dri
              libfreetype-dev fonts-dejavu-core libsndfile1-dev libcli11-dev googletest libgtest-dev
              libbenchmark-dev xfonts-base libegl-dev libegl-mesa0 libavformat-dev libavcodec-dev
              libswscale-dev libswresample-dev libavutil-dev libgles-dev)
# To run the whole suite: a display server and its tools (xwd for window dumps), tmux (xmplay's status area),
# clang with its fuzzer runtime, and desktop-file-validate for the installed desktop entry.
TEST_PACKAGES=(xvfb xauth x11-utils x11-apps xdotool tmux python3 clang libclang-rt-14-dev desktop-file-utils)
# To build the greeting for the browser (web/build.sh) and, with TEST_PACKAGES, to test it in headless
# Chromium through the DevTools protocol and in Firefox ESR under Xvfb, with a PulseAudio null sink of the
# test's own as its sound server and parec recording it, and FFmpeg's command-line tools reading the videos
# the browser makes (./test.sh; puppeteer-core, which drives Firefox, and the video's muxer come from npm
# through package-lock.json; web/build.sh installs Debian's npm where Node came without one).
WEB_BUILD_PACKAGES=(cmake python3 emscripten)
WEB_TEST_PACKAGES=(chromium python3-websocket firefox-esr pulseaudio pulseaudio-utils ffmpeg)
# To build the engine's tests for 32-bit x86 and run them (scripts/i386-tests.sh): the multilib compilers with
# the 32-bit C and C++ runtimes, and GoogleTest's sources to build it for that target; qemu-i386 where the
# kernel runs no 32-bit code.
I386_TEST_PACKAGES=(cmake g++-multilib googletest)
I386_EMULATOR_PACKAGES=(qemu-user)
