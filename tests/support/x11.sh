# Helpers for the scripts that drive a real program under their own Xvfb with xdotool and xwininfo. Sourced,
# never run. The sourcing script defines `fail MESSAGE` (which ends the case) and kills $xvfb_pid and
# $intro_pid in its own cleanup. It may set, before calling the helpers:
#   intro_pid            the program under test: the waits give up as soon as it has ended
#   log                  the program's output: answer_box looks there for a box shown as text instead
#   WAIT_WINDOW_TENTHS   how long wait_window waits, in tenths of a second (default 150)
#   WAIT_EXIT_TENTHS     how long wait_exit waits (default 150)
#   PRESS_SECONDS        how long press holds a key down (default 0.3)

xvfb_pid=""
intro_pid=""
code=""

# Starts Xvfb on a free display with the screen given ("800x600x16") and exports DISPLAY.
start_xvfb() {
    local fifo display=""
    fifo=$(mktemp -u)
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 "$1" -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
    xvfb_pid=$!
    read -r -t 10 display <"$fifo"
    rm -f "$fifo"
    [ -n "$display" ] || fail "Xvfb did not start"
    export DISPLAY=":$display"
}

# True while the program under test runs (or when there is none).
program_runs() {
    [ -z "$intro_pid" ] || kill -0 "$intro_pid" 2>/dev/null
}

# The id of a mapped top-level window with this exact name, from the window tree.
find_window() {
    xwininfo -root -children 2>/dev/null | grep -F "\"$1\": (" | awk '{print $1}' | while read -r id; do
        xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable' && { echo "$id"; break; }
    done
}

# Waits for a window with this exact name; prints its id.
wait_window() {
    local id=""
    for _ in $(seq "${WAIT_WINDOW_TENTHS:-150}"); do
        id=$(find_window "$1")
        [ -n "$id" ] && { echo "$id"; return 0; }
        program_runs || return 1
        sleep 0.1
    done
    return 1
}

# WIDTHxHEIGHT of a window.
window_size() {
    xwininfo -id "$1" 2>/dev/null | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w "x" h}'
}

# Waits (up to 10 s) until the named window has this size ("800x600").
wait_size() {
    local id geometry=""
    for _ in $(seq 100); do
        id=$(find_window "$1")
        if [ -n "$id" ]; then
            geometry=$(window_size "$id")
            [ "$geometry" = "$2" ] && return 0
        fi
        sleep 0.1
    done
    echo "last geometry: ${geometry:-none}"
    return 1
}

# Waits (up to 15 s) until the named window has the keyboard focus, so that a key goes to it. With a second
# word "give" it hands the window the focus itself: without a window manager nobody else does for Wine.
wait_focus() {
    local id focus
    for _ in $(seq 150); do
        id=$(find_window "$1")
        [ -n "$id" ] && [ "${2:-}" = give ] && xdotool windowfocus "$id" 2>/dev/null
        focus=$(xdotool getwindowfocus 2>/dev/null)
        [ -n "$id" ] && [ -n "$focus" ] && [ $((id)) -eq $((focus)) ] && return 0
        program_runs || return 1
        sleep 0.1
    done
    return 1
}

# Dumps the named window's pixels (xwd format) into FILE, for check_frame.py.
dump_window() {
    local id
    id=$(find_window "$1")
    [ -n "$id" ] && xwd -silent -id "$id" >"$2"
}

# Holds a key down for PRESS_SECONDS, as a person does: the intro looks at its keys only in a pass without a
# message, so a bare tap's key-up can be taken before it looked while a slow frame is drawn. (Shorter than
# the X server's key repeat delay.)
press() {
    xdotool keydown "$1"; sleep "${PRESS_SECONDS:-0.3}"; xdotool keyup "$1"
}

# Waits for the program under test to end and sets `code` to its exit code.
wait_exit() {
    for _ in $(seq "${WAIT_EXIT_TENTHS:-150}"); do
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

# Answers a message box found by its caption with the keys given (Return takes the default button). A box
# that never appeared but whose text the program wrote on standard error could not be shown at all: SDL's
# X11 boxes need the X core fonts (Debian's xfonts-base).
answer_box() {
    local id caption=$1
    shift
    if ! id=$(wait_window "$caption"); then
        if [ -n "${log:-}" ] && grep -q "^$caption: " "$log" 2>/dev/null; then
            fail "the box could not be shown: the program wrote its '$caption' text on standard error" \
                 "instead (are the X core fonts, Debian's xfonts-base, installed?)"
        fi
        fail "no box captioned '$caption'"
    fi
    xdotool windowfocus "$id" 2>/dev/null
    sleep 0.5
    for key in "$@"; do
        press "$key"
        sleep 0.2
    done
}
