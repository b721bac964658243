#!/usr/bin/env bash
# Builds the greeting for the browser with Debian's emscripten (installed when missing) and assembles the
# static site in build-web/site/: index.html, page.js, the program (tarnwick.js, tarnwick.wasm and the
# threads' tarnwick.worker.js), the audio worklet, the service worker and data.pack (everything in data/).
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

emcmake cmake -S . -B build-web -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-web -j"$jobs" --target tarnwick

site=build-web/site
rm -rf "$site"
mkdir -p "$site"
cp build-web/shell/tarnwick.js build-web/shell/tarnwick.wasm build-web/shell/tarnwick.worker.js "$site/"
cp web/index.html web/page.js web/worklet.js web/sw.js "$site/"
python3 web/pack_data.py data "$site/data.pack"
echo "Site in $site: serve it with web/serve.sh"
