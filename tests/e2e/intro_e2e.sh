#!/usr/bin/env bash
# End-to-end checks of the real intro: each case starts its own Xvfb, runs the intro from the repository
# root, drives it with xdotool and ends everything it started. Usage: intro_e2e.sh CASE PATH-TO-TARNWICK
set -u
case_name=$1
intro=$2
export SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy}
unset SDL_VIDEODRIVER

xvfb_pid=""
intro_pid=""
log=$(mktemp)
cleanup() {
    [ -n "$intro_pid" ] && kill -9 "$intro_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    rm -f "$log"
}
trap cleanup EXIT

fail() {
    echo "FAIL ($case_name): $*"
    echo "--- intro output:"; cat "$log"
    exit 1
}

# Starts Xvfb on a free display with the given screen ("800x600x16") and exports DISPLAY.
start_xvfb() {
    local fifo display
    fifo=$(mktemp -u)
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 "$1" -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
    xvfb_pid=$!
    read -r -t 10 display <"$fifo" || fail "Xvfb did not start"
    rm -f "$fifo"
    export DISPLAY=":$display"
}

start_intro() {
    "$intro" >"$log" 2>&1 &
    intro_pid=$!
}

# The id of a mapped top-level window with this exact name, from the window tree.
find_window() {
    xwininfo -root -children 2>/dev/null | grep -F "\"$1\": (" | awk '{print $1}' | while read -r id; do
        xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable' && { echo "$id"; break; }
    done
}

# Waits (up to 15 s) for a window with this exact name; prints its id.
wait_window() {
    local id=""
    for _ in $(seq 150); do
        id=$(find_window "$1")
        [ -n "$id" ] && { echo "$id"; return 0; }
        kill -0 "$intro_pid" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}

# Waits (up to 10 s) until the named window has this size ("800x600").
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
    echo "last geometry: ${geometry:-none}"
    return 1
}

# Waits (up to 15 s) for the intro to end and sets `code` to its exit code.
code=""
wait_exit() {
    for _ in $(seq 150); do
        if ! kill -0 "$intro_pid" 2>/dev/null; then
            wait "$intro_pid"
            code=$?
            intro_pid=""
            return 0
        fi
        sleep 0.1
    done
    return 1
}

# Waits (up to 10 s) until the named window has the keyboard focus, so a key goes to it.
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

# A key held about 100 ms (a bare tap can be lost between two polls).
press() {
    xdotool keydown "$1"; sleep 0.1; xdotool keyup "$1"
}

# Answers a message box by its caption with the Return key (its default button).
answer_box() {
    local id
    id=$(wait_window "$1") || fail "no box captioned '$1'"
    xdotool windowfocus "$id" 2>/dev/null
    sleep 0.3
    press "$2"
}

case "$case_name" in
windowed_toggle_escape)
    start_xvfb 800x600x16
    start_intro
    wait_window "Tarnwick Rare" >/dev/null || fail "the window did not appear"
    wait_size "Tarnwick Rare" 800x600 || fail "the first window is not 800x600"
    wait_focus "Tarnwick Rare" || fail "the window never had the focus"
    sleep 0.5
    press F1
    wait_size "Tarnwick Rare" 640x480 || fail "F1 did not give a 640x480 window"
    wait_focus "Tarnwick Rare" || fail "the new window never had the focus"
    sleep 0.5
    press Escape
    wait_exit || fail "Esc did not end the intro"
    [ "$code" = 0 ] || fail "exit code $code after Esc"
    ;;
close_by_sigterm)
    start_xvfb 800x600x16
    start_intro
    wait_window "Tarnwick Rare" >/dev/null || fail "the window did not appear"
    sleep 0.5
    kill -TERM "$intro_pid"
    wait_exit || fail "SIGTERM did not end the intro"
    [ "$code" = 0 ] || fail "exit code $code after the close"
    ;;
fullscreen_refused_yes)
    start_xvfb 1024x768x16
    start_intro
    answer_box "Lumo GL" Return
    wait_size "Tarnwick Rare" 800x600 || fail "no 800x600 window after Yes"
    wait_focus "Tarnwick Rare" || fail "the window never had the focus"
    sleep 0.5
    press Escape
    wait_exit || fail "Esc did not end the intro"
    [ "$code" = 0 ] || fail "exit code $code after Esc"
    ;;
fullscreen_refused_no)
    start_xvfb 1024x768x16
    start_intro
    answer_box "Lumo GL" Escape
    answer_box "ERROR" Return
    wait_exit || fail "the intro did not end after No"
    [ "$code" = 1 ] || fail "exit code $code after No (expected 1)"
    [ -n "$(find_window "Tarnwick Rare")" ] && fail "a scene window was opened after No"
    ;;
no_display)
    # No window system reachable: the class registration fails visibly, never an invisible run.
    env -u DISPLAY -u WAYLAND_DISPLAY "$intro" >"$log" 2>&1 &
    intro_pid=$!
    wait_exit || fail "the intro did not end without a display"
    [ "$code" = 1 ] || fail "exit code $code without a display (expected 1)"
    grep -q "Failed To Register The Window Class." "$log" || fail "no message on standard error"
    ;;
*)
    echo "unknown case $case_name"; exit 2 ;;
esac
echo "PASS ($case_name)"
