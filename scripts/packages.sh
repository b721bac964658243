# The Debian packages the project needs, sourced by run.sh and test.sh.
# To build and run the intro (EGL and FFmpeg's libraries for recording it as a video).
RUN_PACKAGES=(build-essential cmake pkg-config libsdl2-dev libgl1-mesa-dev libglu1-mesa-dev libgl1-mesa-dri
              libfreetype-dev fonts-dejavu-core libsndfile1-dev libcli11-dev googletest libgtest-dev
              libbenchmark-dev libegl-dev libegl-mesa0 libavformat-dev libavcodec-dev libswscale-dev
              libswresample-dev libavutil-dev)
# To run the whole suite: a display server and its tools, and clang with its fuzzer runtime.
TEST_PACKAGES=(xvfb xauth x11-utils xdotool python3 clang libclang-rt-14-dev)
