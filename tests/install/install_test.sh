#!/usr/bin/env bash
# `cmake --install BUILD --prefix P` into a temporary prefix (with a space in its name, as a user's folder may
# have): the three programs in P/bin, the data in P/share/tarnwick/ exactly as in data/, the intro started
# from another folder finding that data (and naming P/share/tarnwick/ when it is gone), a desktop entry that
# starts the installed intro and validates, and the build's icons in the hicolor theme (tests/install's
# icon_tests check what they show).
# Usage: install_test.sh BUILD SOURCE   (the build must be complete: every program is installed)
set -u
build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix="$work/my prefix"
status=0
fail() { echo "FAIL: $*"; status=1; }

cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 || { cat "$work/install.log"; fail "the install failed"; exit 1; }
for program in tarnwick xmrender xmplay; do
    [ -x "$prefix/bin/$program" ] || fail "no $prefix/bin/$program"
done
diff -r "$source/data" "$prefix/share/tarnwick" >/dev/null || fail "P/share/tarnwick/ is not data/"

# The installed intro, started elsewhere. Nothing above P/bin holds data, so only the installed one serves.
mkdir "$work/elsewhere"
run_intro() {
    (cd "$work/elsewhere" && env -u DISPLAY SDL_AUDIODRIVER=dummy timeout 120 "$prefix/bin/tarnwick" \
        --record out.mp4 --seconds 0.1 --size 160x120 -q) >"$work/out.txt" 2>"$work/err.txt"
}
run_intro
code=$?
[ $code = 0 ] || fail "the installed intro ended with $code: $(cat "$work/out.txt" "$work/err.txt")"
[ -s "$work/err.txt" ] && fail "the installed intro said: $(cat "$work/err.txt")"
[ -s "$work/elsewhere/out.mp4" ] || fail "the installed intro wrote no video"
mv "$prefix/share/tarnwick" "$prefix/share/tarnwick.away"
run_intro
code=$?
[ $code = 1 ] || fail "without its data the installed intro ended with $code"
grep -qF "$prefix/share/tarnwick" "$work/err.txt" || fail "the message does not name P/share/tarnwick: $(cat "$work/err.txt")"
[ "$(wc -l <"$work/err.txt")" = 1 ] || fail "more than one line without the data: $(cat "$work/err.txt")"
mv "$prefix/share/tarnwick.away" "$prefix/share/tarnwick"

# The desktop entry starts the installed intro by its whole path, quoted for the space.
entry="$prefix/share/applications/tarnwick.desktop"
if [ -f "$entry" ]; then
    grep -qxF "Exec=\"$prefix/bin/tarnwick\"" "$entry" || fail "the entry's Exec line: $(grep '^Exec=' "$entry")"
    grep -qx "Icon=tarnwick" "$entry" || fail "the entry names no icon tarnwick"
    if command -v desktop-file-validate >/dev/null; then
        desktop-file-validate "$entry" || fail "desktop-file-validate refuses the entry"
    else
        echo "SKIP: desktop-file-validate is not installed (desktop-file-utils); the entry is not validated"
    fi
else
    fail "no $entry"
fi

# The icons, each size as the build made it.
icons=0
for made in "$build"/icons/*/tarnwick.png; do
    [ -f "$made" ] || continue
    icons=$((icons + 1))
    size=$(basename "$(dirname "$made")")
    cmp -s "$made" "$prefix/share/icons/hicolor/$size/apps/tarnwick.png" || fail "no icon $size in the hicolor theme"
done
[ $icons -gt 0 ] || fail "the build made no icons in $build/icons"
[ $status = 0 ] && echo "PASS: installed into a prefix, the intro found its data there"
exit $status
