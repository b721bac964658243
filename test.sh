#!/usr/bin/env bash
# Builds everything and runs the whole suite: unit, rendering and end-to-end tests under Xvfb, the same
# suite again with AddressSanitizer and UndefinedBehaviorSanitizer, each fuzz target for a minute, the
# streaming under ThreadSanitizer, the engine's tests built for 32-bit x86, the Windows executables under Wine,
# and the browser builds in headless Chromium and in Firefox ESR.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/packages.sh
bash scripts/install-packages.sh "${RUN_PACKAGES[@]}" "${TEST_PACKAGES[@]}" "${WEB_BUILD_PACKAGES[@]}" \
    "${WEB_TEST_PACKAGES[@]}"
jobs=$(nproc)
export SDL_AUDIODRIVER=dummy

echo "== Nothing reads outside the repository"
bash scripts/check-standalone.sh

echo "== Release build and tests"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$jobs"
xvfb-run -a -s "-screen 0 800x600x16" ctest --test-dir build --output-on-failure -j"$jobs"

echo "== The greeting in the browser: the emscripten builds (with threads and without), checked in headless Chromium"
bash web/build.sh
# Debian's own python3 (python3-websocket is its package), under Xvfb for the native frame it compares with;
# it uses xmrender, scene_frames_gl and make_tone_song of the Release build above.
xvfb-run -a -s "-screen 0 800x600x16" /usr/bin/python3 tests/web/browser_test.py build-web/site build

echo "== The greeting in Firefox ESR: under Xvfb, with a PulseAudio null sink as its sound server"
# puppeteer-core, pinned by package-lock.json, drives Debian's firefox-esr over WebDriver BiDi; it downloads
# no browser, and no package may run an install script. Headless Firefox offers no WebGL here: a 24-bit Xvfb.
npm ci --ignore-scripts --no-audit --no-fund --prefer-offline --loglevel=error
xvfb-run -a -s "-screen 0 1024x768x24" node tests/web/firefox_test.mjs build-web/site threads single

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build and tests"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNWICK_SANITIZE=address,undefined >/dev/null
cmake --build build-asan -j"$jobs"
# Leaks are checked everywhere but in the tests that open a real window: the GL driver keeps memory of
# its own to process exit, some of it from modules it loads without a name that a suppression could match.
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
ASAN_OPTIONS="detect_leaks=1" ctest --test-dir build-asan --output-on-failure -j"$jobs" -LE 'display|e2e'
ASAN_OPTIONS="detect_leaks=0" xvfb-run -a -s "-screen 0 800x600x16" \
    ctest --test-dir build-asan --output-on-failure -j"$jobs" -L 'display|e2e'

if ls fuzz/fuzz_*.cpp >/dev/null 2>&1; then
    echo "== Fuzz targets, 60 seconds each"
    CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNWICK_FUZZ=ON >/dev/null
    cmake --build build-fuzz -j"$jobs"
    bash fuzz/run.sh build-fuzz 60
fi
# ---- Reliability (see docs/reliability.md) ------------------------------------------------------------------
# The unit and end-to-end reliability tests (fault injection, the bounded soak, bad data files, real-time audio
# against the offline render) ran with the suites above. Here: the streaming under ThreadSanitizer, the
# streaming tests with their 1,000 play/stop cycles and a minute of the soak.
echo "== ThreadSanitizer build: the streaming tests and a minute of the soak"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNWICK_SANITIZE=thread >/dev/null
cmake --build build-tsan -j"$jobs" --target sound_stream_tests sound_status_tests reliability_soak_tests
TSAN_OPTIONS="halt_on_error=1" build-tsan/tests/sound/sound_stream_tests --gtest_brief=1
TSAN_OPTIONS="halt_on_error=1" build-tsan/tests/sound/sound_status_tests --gtest_brief=1
TSAN_OPTIONS="halt_on_error=1" TARNWICK_SOAK_SECONDS=60 build-tsan/tests/reliability/reliability_soak_tests \
    --gtest_brief=1
echo "== The engine's tests on 32-bit x86, natively or under qemu-i386"
bash scripts/i386-tests.sh
echo "== Windows builds, checked under Wine"
bash scripts/windows-tests.sh
echo "== All tests passed"
