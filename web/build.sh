#!/usr/bin/env bash
# Builds the greeting for the browser with Debian's emscripten (installed when missing) and assembles the
# static site in build-web/site/: index.html, page.js, the studio page make.html (make.js, make.css), what
# both pages share (site.js), the program in two builds (with threads: tarnwick.js, tarnwick.wasm and the
# threads' tarnwick.worker.js; without: tarnwick-single.js and tarnwick-single.wasm), the audio worklet, the
# service worker, data.pack (everything in data/) and the QR code library the studio draws its codes with
# (qrcode.js, from npm, pinned by package-lock.json).
# Serve it with web/serve.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
bash scripts/install-packages.sh "${WEB_BUILD_PACKAGES[@]}"
# emscripten runs its JavaScript tools with the machine's node; Debian's own modules (acorn) are found
# there even when that node is not Debian's.
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}
jobs=$(nproc)
[ "$jobs" -gt 2 ] && jobs=2

# Two builds of the same program: with shared memory and a streaming thread (for a cross-origin isolated
# page), and without threads (for every other page).
emcmake cmake -S . -B build-web -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-web -j"$jobs" --target tarnwick
emcmake cmake -S . -B build-web-single -DCMAKE_BUILD_TYPE=Release -DTARNWICK_WEB_THREADS=OFF >/dev/null
cmake --build build-web-single -j"$jobs" --target tarnwick

site=build-web/site
rm -rf "$site"
mkdir -p "$site"
cp build-web/shell/tarnwick.js build-web/shell/tarnwick.wasm build-web/shell/tarnwick.worker.js "$site/"
cp build-web-single/shell/tarnwick.js "$site/tarnwick-single.js"
cp build-web-single/shell/tarnwick.wasm "$site/tarnwick-single.wasm"
cp web/index.html web/page.js web/site.js web/make.html web/make.js web/make.css web/worklet.js web/sw.js "$site/"
# The QR code library as npm has it, bundled into the site (the studio loads nothing from elsewhere); no package
# may run an install script.
if [ ! -f node_modules/qrcode-generator/dist/qrcode.js ]; then
    npm ci --ignore-scripts --no-audit --no-fund --prefer-offline --loglevel=error
fi
cp node_modules/qrcode-generator/dist/qrcode.js "$site/qrcode.js"
python3 web/pack_data.py data "$site/data.pack"
echo "Site in $site: serve it with web/serve.sh"
