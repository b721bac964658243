#!/usr/bin/env bash
# Bad data files under the real intro: one data file (a picture, a glyph or the song) missing, empty,
# truncated to half its length, or replaced by garbage of the same length. Each run happens in a scratch copy
# of the data directory under its own Xvfb and a time limit; the message boxes are answered (and recorded) by
# a preloaded stand-in. Expected: a picture or glyph that does not load shows one "Error" box per load with
# the loader's message and the intro runs on without it (Esc ends it with 0); a song that does not load
# writes "Error loading song" and ends the intro with exit code 1. Never a crash or a hang.
# Usage: bad_input_e2e.sh l1|l2|glyph|song PATH-TO-TARNWICK PATH-TO-BOX-ANSWERER DATA-DIR
set -u
target=$1
intro=$(realpath "$2")
answerer=$(realpath "$3")
data=$(realpath "$4")
export SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy}
unset SDL_VIDEODRIVER
# The stand-in is preloaded ahead of a sanitizer runtime in the sanitized build.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"

case "$target" in
l1) file=l1.bmp ;;
l2) file=l2.bmp ;;
glyph) file=letters/7.bmp ;;
song) file=glimrook.xm ;;
*) echo "unknown file $target"; exit 2 ;;
esac

source "$(dirname "$0")/../support/x11.sh"
WAIT_EXIT_TENTHS=200
work=$(mktemp -d)
cleanup() {
    [ -n "$intro_pid" ] && kill -9 "$intro_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

kind=""
fail() {
    echo "FAIL ($target, $kind): $*"
    echo "--- intro output:"; cat "$work/out.log" 2>/dev/null
    echo "--- boxes:"; cat "$work/boxes.log" 2>/dev/null
    exit 1
}

start_xvfb 800x600x16

# The copy of the data directory with the one file spoilt as `kind` says.
spoil() {
    rm -rf "$work/run"
    mkdir -p "$work/run"
    cp -r "$data" "$work/run/data"
    local path="$work/run/data/$file"
    case "$kind" in
    missing) rm -f "$path" ;;
    empty) : >"$path" ;;
    truncated) head -c $(($(stat -c %s "$path") / 2)) "$data/$file" >"$path" ;;
    garbage)
        # Bytes of a fixed pseudo-random sequence, the file's own length; never "BM" and never a valid
        # header size at the start (so the expected message is fixed).
        python3 - "$path" <<'PY'
import random, os, sys
path = sys.argv[1]
rng = random.Random(20261207)
data = bytearray(rng.getrandbits(8) for _ in range(os.path.getsize(path)))
data[0:4] = b"\x9c\x51\x07\xe3"
open(path, "wb").write(bytes(data))
PY
        ;;
    esac
}

# What the loader says for each kind of spoilt picture or glyph (the same for all three files).
image_message() {
    case "$kind" in
    missing|empty) echo "Error|Failed to open DIB file data/$file.\\n" ;;
    truncated) echo "Error|Image file conversion error." ;;
    garbage) echo "Error|Unknown DIB file format." ;;
    esac
}

for kind in missing empty truncated garbage; do
    spoil
    : >"$work/boxes.log"
    (cd "$work/run" && TW_BOX_LOG="$work/boxes.log" LD_PRELOAD="$answerer" exec "$intro") >"$work/out.log" 2>&1 &
    intro_pid=$!
    song_fails=0
    if [ "$target" = song ] && [ "$kind" != truncated ]; then
        song_fails=1
    fi
    if [ "$song_fails" = 1 ]; then
        wait_exit || fail "the intro did not end"
        [ "$code" = 1 ] || fail "exit code $code (expected 1)"
        grep -qx "Error loading song" "$work/out.log" || fail "no \"Error loading song\" line"
        [ -s "$work/boxes.log" ] && fail "a message box was shown"
    else
        # The intro runs on: its window comes up and takes Esc.
        wait_focus "Tarnwick Rare" || fail "the window did not come up"
        sleep 1
        kill -0 "$intro_pid" 2>/dev/null || fail "the intro ended by itself"
        press Escape
        wait_exit || fail "Esc did not end the intro"
        [ "$code" = 0 ] || fail "exit code $code after Esc (expected 0)"
        grep -q "Error" "$work/out.log" && fail "an error line was written"
        if [ "$target" = song ]; then
            # Half a song still loads: the loader reads what is there, and the samples cut short end early.
            [ -s "$work/boxes.log" ] && fail "a message box was shown"
        else
            # One box per load of the file: the pictures and this glyph are each loaded once.
            expected=$(image_message)
            printf '%s\n' "$expected" | cmp -s - "$work/boxes.log" || fail "the boxes were not exactly: $expected"
        fi
    fi
    echo "ok ($target, $kind): exit $code"
done
echo "PASS ($target)"
