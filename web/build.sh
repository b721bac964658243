#!/usr/bin/env bash
# Builds the greeting for the browser with Debian's emscripten (installed when missing) and assembles the
# static site in build-web/site/: index.html, page.js, the studio page make.html (make.js, make.css), what
# both pages share (site.js), the program in two builds (with threads: tarnwick.js, tarnwick.wasm and the
# threads' tarnwick.worker.js; without: tarnwick-single.js and tarnwick-single.wasm), the audio worklet, the
# service worker, data.pack (everything in data/), the video maker (video.js, record.html, record.js), and from
# npm, pinned by package-lock.json, the QR code library the studio draws its codes with (qrcode.js), the MP4
# muxer (mediabunny.js) and its MP3 encoder (mediabunny-mp3-encoder.js).
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
cp web/video.js web/record.html web/record.js "$site/"
# From npm as the packages ship them, minified, bundled into the site (it loads nothing from elsewhere); named
# .js, which every host serves as JavaScript (not every one knows .mjs); installed again when the lock file is
# newer than what npm installed. No package may run an install script. npm is Node's own where Node came with
# it, else Debian's.
npm_files=(node_modules/qrcode-generator/dist/qrcode.js node_modules/mediabunny/dist/bundles/mediabunny.min.mjs
           node_modules/@mediabunny/mp3-encoder/dist/bundles/mediabunny-mp3-encoder.min.mjs)
if ! ls "${npm_files[@]}" >/dev/null 2>&1 || [ package-lock.json -nt node_modules/.package-lock.json ]; then
    command -v npm >/dev/null || bash scripts/install-packages.sh npm
    npm ci --ignore-scripts --no-audit --no-fund --prefer-offline --loglevel=error
fi
cp "${npm_files[0]}" "$site/qrcode.js"
cp "${npm_files[1]}" "$site/mediabunny.js"
cp "${npm_files[2]}" "$site/mediabunny-mp3-encoder.js"
python3 web/pack_data.py data "$site/data.pack"
echo "Site in $site: serve it with web/serve.sh"
