#!/usr/bin/env bash
# Builds the intro in Release and starts it from the repository root, so that data/ resolves.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/packages.sh
bash scripts/install-packages.sh "${RUN_PACKAGES[@]}"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target tarnwick
exec ./build/shell/tarnwick
