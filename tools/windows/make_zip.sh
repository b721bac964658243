#!/usr/bin/env bash
# Packs what a Windows user downloads: one folder with tarnwick.exe and the data/ it reads at start-up
# (relative to the working directory, which Explorer sets to the exe's own folder).
# Usage: tools/windows/make_zip.sh PATH-TO-TARNWICK.EXE OUT.zip
set -euo pipefail
exe=$(realpath "$1")
out=$(realpath -m "$2")
root=$(cd "$(dirname "$0")/../.." && pwd)
folder=TarnwickRare
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$stage/$folder/data/letters"
cp "$exe" "$stage/$folder/tarnwick.exe"
cp "$root/data/l1.bmp" "$root/data/l2.bmp" "$root/data/glimrook.xm" "$stage/$folder/data/"
cp "$root"/data/letters/*.bmp "$stage/$folder/data/letters/"
rm -f "$out"
# Fixed times and order, so the same build packs to the same bytes.
find "$stage/$folder" -exec touch -d '2026-12-31 00:00:00' {} +
(cd "$stage" && find "$folder" -print | LC_ALL=C sort | zip -X -q -D "$out" -@)
echo "$out: $(unzip -l "$out" | tail -1 | awk '{print $2}') files"
