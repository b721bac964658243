#!/usr/bin/env bash
# Real-time audio is exact: the real intro runs 60 s under its own Xvfb with SDL's disk audio driver, and the
# captured stream, after its leading silence, must equal byte for byte the offline render of the same song.
# That proves that no block was skipped, repeated or mixed out of turn while the scene ran. The f1_toggle
# case closes and reopens the window (F1) halfway through, f1_early 5 s after the window came up.
# Usage: realtime_audio_e2e.sh plain|f1_toggle|f1_early PATH-TO-TARNWICK PATH-TO-XMRENDER (from the
# repository root); RT_SECONDS changes the 60 s.
set -u
case_name=$1
intro=$2
xmrender=$3
seconds=${RT_SECONDS:-60}

work=$(mktemp -d)
xvfb_pid=""
intro_pid=""
cleanup() {
    [ -n "$intro_pid" ] && kill -9 "$intro_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL ($case_name): $*"
    if [ -n "$intro_pid" ] && ! kill -0 "$intro_pid" 2>/dev/null; then
        wait "$intro_pid"
        echo "the intro had ended with exit code $?"
        intro_pid=""
    fi
    echo "--- intro output:"; cat "$work/intro.log" 2>/dev/null
    exit 1
}

start_xvfb() {
    local fifo display
    fifo="$work/displayfd"
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 "$1" -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
    xvfb_pid=$!
    read -r -t 10 display <"$fifo" || fail "Xvfb did not start"
    export DISPLAY=":$display"
}

# The id of a mapped top-level window with this exact name, from the window tree.
find_window() {
    xwininfo -root -children 2>/dev/null | grep -F "\"$1\": (" | awk '{print $1}' | while read -r id; do
        xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable' && { echo "$id"; break; }
    done
}

wait_window() {
    for _ in $(seq 150); do
        [ -n "$(find_window "$1")" ] && return 0
        kill -0 "$intro_pid" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}

wait_size() {
    local id geometry
    for _ in $(seq 100); do
        id=$(find_window "$1")
        if [ -n "$id" ]; then
            geometry=$(xwininfo -id "$id" 2>/dev/null | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w "x" h}')
            [ "$geometry" = "$2" ] && return 0
        fi
        sleep 0.1
    done
    return 1
}

wait_focus() {
    local id focus
    for _ in $(seq 100); do
        id=$(find_window "$1")
        focus=$(xdotool getwindowfocus 2>/dev/null)
        [ -n "$id" ] && [ -n "$focus" ] && [ $((id)) -eq $((focus)) ] && return 0
        sleep 0.1
    done
    return 1
}

# A key held 0.4 s: the frame loop takes one message per pass and looks at the keys only in a pass without
# one, so a short tap can go unseen while a slow frame is drawn. (Less than the key repeat delay.)
press() {
    xdotool keydown "$1"; sleep 0.4; xdotool keyup "$1"
}

start_xvfb 800x600x16
export SDL_AUDIODRIVER=disk
export SDL_DISKAUDIOFILE="$work/capture.raw"
unset SDL_VIDEODRIVER
"$intro" >"$work/intro.log" 2>&1 &
intro_pid=$!
started=$SECONDS
wait_window "Tarnwick Rare" || fail "the window did not appear"
wait_focus "Tarnwick Rare" || fail "the window never had the focus"
if [ "$case_name" = f1_toggle ] || [ "$case_name" = f1_early ]; then
    if [ "$case_name" = f1_toggle ]; then
        sleep $((seconds / 2 - (SECONDS - started)))
    else
        sleep 5
    fi
    # A press lost whole while one slow frame was drawn (both key messages taken before the loop looked at
    # the keys) leaves no trace, so it is safe to press again; a press that was seen toggles within a frame.
    toggled=0
    for _ in 1 2 3; do
        press F1
        wait_size "Tarnwick Rare" 640x480 && { toggled=1; break; }
    done
    [ "$toggled" = 1 ] || fail "F1 did not give a 640x480 window; windows: $(xwininfo -root -children | grep -v '(has no name)')"
    wait_focus "Tarnwick Rare" || fail "the new window never had the focus"
fi
left=$((seconds - (SECONDS - started)))
[ "$left" -gt 0 ] && sleep "$left"
kill -0 "$intro_pid" 2>/dev/null || fail "the intro ended by itself"
press Escape
code=""
for _ in $(seq 150); do
    if ! kill -0 "$intro_pid" 2>/dev/null; then
        wait "$intro_pid"; code=$?; intro_pid=""; break
    fi
    sleep 0.1
done
[ -n "$code" ] || fail "Esc did not end the intro"
[ "$code" = 0 ] || fail "exit code $code after Esc"

"$xmrender" --quiet --seconds $((seconds + 10)) data/glimrook.xm "$work/render.wav" || fail "xmrender failed"
# After the equal part only the silence of the stopped device may follow, and the equal part must cover
# nearly the whole run (start-up and shutdown take a few seconds of the 60).
python3 tests/support/compare_capture.py "$work/capture.raw" "$work/render.wav" --min-seconds $((seconds - 10)) ||
    fail "the captured audio differs from the render"
echo "PASS ($case_name)"
