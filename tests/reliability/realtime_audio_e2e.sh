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

source "$(dirname "$0")/../support/x11.sh"
work=$(mktemp -d)
log=$work/intro.log
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
    echo "--- intro output:"; cat "$log" 2>/dev/null
    exit 1
}

# Keys are held 0.4 s: a slow frame under a busy Xvfb can take longer than the usual hold.
PRESS_SECONDS=0.4

start_xvfb 800x600x16
export SDL_AUDIODRIVER=disk
export SDL_DISKAUDIOFILE="$work/capture.raw"
unset SDL_VIDEODRIVER
"$intro" >"$log" 2>&1 &
intro_pid=$!
started=$SECONDS
wait_window "Tarnwick Rare" >/dev/null || fail "the window did not appear"
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
wait_exit || fail "Esc did not end the intro"
[ "$code" = 0 ] || fail "exit code $code after Esc"

"$xmrender" --quiet --seconds $((seconds + 10)) data/glimrook.xm "$work/render.wav" || fail "xmrender failed"
python3 - "$work/capture.raw" "$work/render.wav" "$seconds" <<'PY' || fail "the captured audio differs from the render"
import sys, wave
capture = open(sys.argv[1], "rb").read()
with wave.open(sys.argv[2], "rb") as w:
    assert (w.getnchannels(), w.getsampwidth(), w.getframerate()) == (2, 2, 44100), "render format"
    render = w.readframes(w.getnframes())
seconds = int(sys.argv[3])
frame = 4
def first_sound(data):
    for i in range(0, len(data) - frame + 1, frame):
        if data[i:i + frame] != b"\0" * frame:
            return i
    return len(data)
capture = capture[:len(capture) // frame * frame]
c = capture[first_sound(capture):]
r = render[first_sound(render):]
n = min(len(c), len(r))
# The longest common prefix, found a block at a time.
same = 0
step = 1 << 16
while same < n:
    end = min(same + step, n)
    if c[same:end] == r[same:end]:
        same = end
        continue
    while c[same:same + frame] == r[same:same + frame]:
        same += frame
    break
rest = c[same:]
rate = 44100 * frame
print("captured %.2f s after the leading silence; %.2f s equal to the render; %d bytes after that, %s"
      % (len(c) / rate, same / rate, len(rest), "all silence" if rest.count(0) == len(rest) else "NOT silence"))
# After the equal part only the silence of the stopped device may follow, and the equal part must cover
# nearly the whole run (start-up and shutdown take a few seconds of the 60).
if rest.count(0) != len(rest):
    frame_at = same // frame
    print("first difference at frame %d (%.3f s after the first sound)" % (frame_at, frame_at / 44100))
    sys.exit(1)
if same < (seconds - 10) * rate:
    print("too little audio was captured")
    sys.exit(1)
PY
echo "PASS ($case_name)"
