#!/usr/bin/env bash
# End-to-end checks of the Windows intro under Wine. Each case starts its own Xvfb (with the screen the case
# needs) and its own PulseAudio with a null sink as the sound device, runs the intro from the repository
# root under Wine, drives it with xdotool and ends everything it started, Wine's processes included.
#
# Usage: wine_e2e.sh CASE PATH-TO-TARNWICK.EXE (for the case seam_check: PATH-TO-WIN32_SEAM_CHECK.EXE)
# Environment: WINEPREFIX (a prefix made with `wineboot -i`; required), WINE (the loader, default
# /usr/lib/wine/wine64), XMRENDER (the offline renderer, for the music case), E2E_ARTIFACTS (a folder that
# keeps the captured frame and recording, optional).
set -u
case_name=$1
intro=$2
here=$(cd "$(dirname "$0")" && pwd)
wine=${WINE:-/usr/lib/wine/wine64}
wineserver=$(dirname "$wine")/wineserver
: "${WINEPREFIX:?WINEPREFIX must name a prefix made with wineboot}"
export WINEPREFIX
export WINEDEBUG=-all
# No mono or gecko installers: nothing may ask a question nobody answers.
export WINEDLLOVERRIDES="mscoree=;mshtml="

source "$here/../support/x11.sh"
# Wine's first start in a prefix is slow, and it ends slowly on a busy machine.
WAIT_WINDOW_TENTHS=400
WAIT_EXIT_TENTHS=300
work=$(mktemp -d)
# Wine cannot give the streaming thread the time-critical priority Windows would; on a machine shared with
# other work the sound path then stalls. As root, the sound server and the intro (with Wine's own
# processes, which it starts) run ahead of ordinary processes instead.
boost=()
[ "$(id -u)" = 0 ] && boost=(nice -n -10)
pulse_pid=""
parec_pid=""
log=$work/intro.log
cleanup() {
    [ -n "$parec_pid" ] && kill "$parec_pid" 2>/dev/null
    [ -n "$intro_pid" ] && kill -9 "$intro_pid" 2>/dev/null
    # Every Windows process of this prefix (the intro, its desktop, Wine's services) ends with its server.
    "$wineserver" -k 2>/dev/null
    timeout 30 "$wineserver" -w 2>/dev/null
    [ -n "$pulse_pid" ] && kill "$pulse_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
# A time limit from outside ends the case through its cleanup too.
trap 'exit 143' TERM INT
# A server of this prefix still ending from the case before would take the new program down with it.
timeout 30 "$wineserver" -w 2>/dev/null

fail() {
    echo "FAIL ($case_name): $*"
    if [ -n "$intro_pid" ] && ! kill -0 "$intro_pid" 2>/dev/null; then
        wait "$intro_pid"
        echo "(the program had already ended, with exit code $?)"
        intro_pid=""
    fi
    echo "--- intro output:"; grep -v '^ALSA lib' "$log" 2>/dev/null
    exit 1
}

# Starts a private PulseAudio whose default sink is a null sink clocked in real time (44100 Hz stereo,
# 16-bit), reachable only through a socket in the case's own folder.
start_pulse() {
    mkdir -p "$work/pulse"
    export XDG_RUNTIME_DIR=$work/pulse
    export PULSE_SERVER=unix:$work/pulse/native
    HOME=$work/pulse "${boost[@]}" pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no \
        -L "module-native-protocol-unix socket=$work/pulse/native auth-anonymous=1" \
        -L "module-null-sink sink_name=tw_null rate=44100 format=s16le channels=2" \
        >"$work/pulse.log" 2>&1 &
    pulse_pid=$!
    for _ in $(seq 50); do
        pactl info >/dev/null 2>&1 && { pactl set-default-sink tw_null; return 0; }
        sleep 0.1
    done
    cat "$work/pulse.log"
    fail "PulseAudio did not start"
}

start_intro() {
    "${boost[@]}" "$wine" "$intro" >"$log" 2>&1 &
    intro_pid=$!
}

keep() {
    [ -n "${E2E_ARTIFACTS:-}" ] && mkdir -p "$E2E_ARTIFACTS" && cp "$1" "$E2E_ARTIFACTS/$case_name-$(basename "$1")"
    return 0
}

case "$case_name" in
frame_toggle_escape)
    # 800x600x16 is the requested mode itself: fullscreen is granted, so no question is asked.
    start_xvfb 800x600x16
    start_pulse
    start_intro
    wait_window "Tarnwick Rare" >/dev/null || fail "the window did not appear"
    wait_size "Tarnwick Rare" 800x600 || fail "the first window is not 800x600"
    [ -n "$(find_window "Lumo GL")" ] && fail "the fullscreen question was asked on an 800x600x16 screen"
    wait_focus "Tarnwick Rare" give || fail "the window never had the focus"
    sleep 2
    dump_window "Tarnwick Rare" "$work/frame.xwd" || fail "no frame captured"
    keep "$work/frame.xwd"
    python3 "$here/../support/check_frame.py" "$work/frame.xwd" data 800x600 || fail "the frame is wrong"
    press F1
    wait_size "Tarnwick Rare" 640x480 || fail "F1 did not give a 640x480 window"
    wait_focus "Tarnwick Rare" give || fail "the new window never had the focus"
    sleep 1
    dump_window "Tarnwick Rare" "$work/frame640.xwd" || fail "no frame captured"
    keep "$work/frame640.xwd"
    python3 "$here/../support/check_frame.py" "$work/frame640.xwd" data 640x480 || fail "the 640x480 frame is wrong"
    press Escape
    wait_exit || fail "Esc did not end the intro"
    [ "$code" = 0 ] || fail "exit code $code after Esc"
    ;;
fullscreen_refused_yes)
    # The display has no 800x600 mode: the mode change is refused and the question comes.
    start_xvfb 1024x768x16
    start_pulse
    start_intro
    answer_box "Lumo GL" Return
    wait_window "Tarnwick Rare" >/dev/null || fail "no window after Yes"
    wait_size "Tarnwick Rare" 800x600 || fail "the window after Yes is not 800x600"
    wait_focus "Tarnwick Rare" give || fail "the window never had the focus"
    sleep 1
    press Escape
    wait_exit || fail "Esc did not end the intro"
    [ "$code" = 0 ] || fail "exit code $code after Esc"
    ;;
fullscreen_refused_no)
    start_xvfb 1024x768x16
    start_pulse
    start_intro
    # A Yes/No box has no Cancel, so Esc does nothing there: N is the No button's key.
    answer_box "Lumo GL" n
    answer_box "ERROR" Return
    wait_exit || fail "the intro did not end after No"
    [ "$code" = 1 ] || fail "exit code $code after No (expected 1)"
    [ -n "$(find_window "Tarnwick Rare")" ] && fail "a scene window was opened after No"
    ;;
music_real_time)
    # The null sink plays in real time; its monitor is recorded while the intro runs, and what was heard
    # must be the offline render of the song, without a gap or a repeated block.
    [ -n "${XMRENDER:-}" ] && [ -x "$XMRENDER" ] || fail "XMRENDER must name the offline renderer"
    "$XMRENDER" -q --seconds 30 data/glimrook.xm "$work/render.wav" >/dev/null || fail "the offline render failed"
    start_xvfb 800x600x16
    start_pulse
    parec -d tw_null.monitor --format=s16le --rate=44100 --channels=2 --raw "$work/heard.raw" &
    parec_pid=$!
    started=$(date +%s%N)
    start_intro
    wait_window "Tarnwick Rare" >/dev/null || fail "the window did not appear"
    wait_focus "Tarnwick Rare" give || fail "the window never had the focus"
    sleep 10
    press Escape
    wait_exit || fail "Esc did not end the intro"
    [ "$code" = 0 ] || fail "exit code $code after Esc"
    sleep 0.5
    kill "$parec_pid" 2>/dev/null
    wait "$parec_pid" 2>/dev/null
    parec_pid=""
    ended=$(date +%s%N)
    keep "$work/heard.raw"
    python3 "$here/check_audio.py" "$work/heard.raw" "$work/render.wav" "$(( (ended - started) / 1000000 ))"
    verdict=$?
    # 77: no fault of the intro was heard, but the host stalled too much to judge the run.
    [ "$verdict" = 77 ] && { echo "SKIP ($case_name): the host stalled, see the figures above"; exit 77; }
    [ "$verdict" = 0 ] || fail "the music heard is not the song in real time"
    ;;
seam_check)
    # Here the program given is win32_seam_check.exe, which checks the platform from inside.
    start_xvfb 800x600x16
    start_pulse
    start_intro
    wait_exit || fail "the seam check did not end"
    grep -v '^ALSA lib' "$log"
    [ "$code" = 0 ] || fail "exit code $code"
    ;;
*)
    echo "unknown case $case_name"; exit 2 ;;
esac
echo "PASS ($case_name)"
