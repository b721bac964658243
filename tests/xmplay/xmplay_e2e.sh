#!/usr/bin/env bash
# xmplay end to end. The test modules are the intro's song and two songs written by the test-module writers
# (small_song.xm by make_xm_corpus, effects_linear.xm by make_play_corpus).
#
#   exact_intro, exact_small, exact_effects  SDL's disk audio driver captures what xmplay sends to the device;
#       after the leading silence it must equal xmrender's render of the same song byte for byte (10 s of the
#       intro's song; the two test songs to their end, then only silence).
#   pause        the same with a pause typed through a pseudo-terminal in the middle: the render with one
#                stretch of silence inserted, nothing skipped, nothing repeated.
#   status       under tmux: the status area (title, a time that advances, the order and row, meters) redrawn
#                in place, space pausing the clock, q ending with exit 0 and the terminal restored.
#   keys         under tmux: n and p between three files, Esc quitting.
#   signals      under tmux: Ctrl-C quits the same way; a crash signal leaves a restored terminal.
#   refused      a file that is no module among three: its line, the other two play, exit 1 (under tmux and
#                through a pipe, where each song gets one line); a missing or damaged file, no audio device,
#                bad usage.
# A host too busy to feed the device in time (xmplay reports it) makes a capture case skip with its figures
# (exit 77); a machine without tmux skips the tmux cases.
# Usage (from the repository root): xmplay_e2e.sh CASE XMPLAY XMRENDER MAKE_XM_CORPUS MAKE_PLAY_CORPUS
set -u
case_name=$1
xmplay=$2
xmrender=$3
make_xm_corpus=$4
make_play_corpus=$5

work=$(mktemp -d)
socket="xmplay-e2e-$$"
pid_file="$work/xmplay.pid"
cleanup() {
    if [ -s "$pid_file" ]; then
        kill -9 "$(cat "$pid_file")" 2>/dev/null
    fi
    command -v tmux >/dev/null && tmux -L "$socket" kill-server 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
# A run cut short (ctest's timeout) still ends its tmux server and player.
trap 'exit 1' TERM INT

fail() {
    echo "FAIL ($case_name): $*"
    for log in "$work"/*.log; do
        [ -f "$log" ] && { echo "--- $(basename "$log"):"; cat -v "$log" | tail -40; }
    done
    if [ -f "$work/pane.txt" ]; then echo "--- pane:"; cat "$work/pane.txt"; fi
    exit 1
}

skip() {
    echo "SKIP ($case_name): $*"
    exit 77
}

"$make_xm_corpus" "$work" >/dev/null || fail "make_xm_corpus failed"
"$make_play_corpus" "$work" >/dev/null || fail "make_play_corpus failed"
intro_song=data/glimrook.xm
small_song="$work/small_song.xm"
effects_song="$work/effects_linear.xm"

# ---- Capture against the render ------------------------------------------------------------------------------

# xmplay's report of a host that held the streaming thread back a whole ring turn: not a fault of ours.
check_stall() {
    local line
    line=$(grep -h "held the sound back" "$work/xmplay.log" 2>/dev/null | head -1)
    [ -n "$line" ] && skip "the host stalled the sound: $line"
}

# capture SONG [XMPLAY OPTIONS...]: plays with the disk driver at its real pace, standard input not a terminal.
capture() {
    local song=$1
    shift
    SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$work/capture.raw" timeout 120 "$xmplay" -q "$@" "$song" \
        </dev/null >"$work/xmplay.log" 2>&1
    local code=$?
    check_stall
    [ "$code" = 0 ] || fail "xmplay ended with exit code $code"
}

render() {
    "$xmrender" -q "$@" "$work/render.wav" >"$work/xmrender.log" 2>&1 || fail "xmrender failed"
}

compare() {
    python3 tests/support/compare_capture.py "$work/capture.raw" "$work/render.wav" "$@" ||
        fail "what xmplay played differs from the render"
}

case_exact() {
    case "$1" in
    intro)
        capture "$intro_song" --seconds 10
        render "$intro_song" --seconds 12
        compare --min-seconds 10
        ;;
    small)
        capture "$small_song"
        render "$small_song"
        compare --whole
        ;;
    effects)
        capture "$effects_song"
        render "$effects_song"
        compare --whole
        ;;
    esac
}

case_pause() {
    # A space after 2.5 s and another 2 s later, on a pseudo-terminal, with the status area drawn on it.
    SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$work/capture.raw" \
        python3 tests/xmplay/pty_keys.py --limit 60 --at 2.5 ' ' --at 4.5 ' ' --log "$work/terminal.log" -- \
        "$xmplay" "$effects_song" >"$work/xmplay.log" 2>&1
    local code=$?
    grep -aq "held the sound back" "$work/terminal.log" &&
        skip "the host stalled the sound: $(grep -a -o "xmplay: .*held the sound back.*" "$work/terminal.log" | head -1 | tr -d '\r')"
    [ "$code" = 0 ] || fail "xmplay ended with exit code $code"
    grep -aq "paused" "$work/terminal.log" || fail "the status area never said paused"
    render "$effects_song"
    compare --whole --pauses 1 --pause-seconds 1.0 3.5
}

# ---- tmux ----------------------------------------------------------------------------------------------------

tmx() {
    tmux -L "$socket" -f /dev/null "$@"
}

# start_pane [XMPLAY ARGS...]: xmplay in a 100x30 pane; when it ends the pane shows its exit code and the
# terminal's line settings, and stays.
start_pane() {
    cat >"$work/pane.sh" <<'EOF'
pid_file=$1
shift
ulimit -c 0  # the crash case leaves no core file behind
bash -c 'echo $$ > "$0"; exec "$@"' "$pid_file" "$@"
echo "xmplay-exit=$?"
echo "terminal: $(stty -a | tr ' ;' '\n\n' | grep -xE -- '-?(icanon|echo|isig)' | tr '\n' ' ')"
exec sleep 600
EOF
    rm -f "$pid_file"
    tmx new-session -d -x 100 -y 30 -e SDL_AUDIODRIVER=dummy bash "$work/pane.sh" "$pid_file" "$xmplay" "$@" ||
        fail "tmux did not start"
}

pane() {
    tmx capture-pane -p >"$work/pane.txt" 2>/dev/null
    cat "$work/pane.txt"
}

# wait_pane REGEX [SECONDS]: until the pane shows a line matching the extended regular expression.
wait_pane() {
    local tries=$((${2:-10} * 10))
    for _ in $(seq "$tries"); do
        pane | grep -qE -- "$1" && return 0
        sleep 0.1
    done
    return 1
}

# The elapsed time the status area shows, in milliseconds.
shown_ms() {
    pane | grep -oE '^[0-9]+:[0-9]{2}\.[0-9]{3} /' | head -1 |
        awk -F'[:. ]' '{print ($1 * 60 + $2) * 1000 + $3}'
}

cursor_visible() {
    tmx display -p '#{cursor_flag}'
}

# finish EXPECTED-CODE: waits for the pane's report and checks the code and a restored terminal.
finish() {
    wait_pane '^xmplay-exit=' 10 || fail "xmplay did not end"
    local code
    code=$(pane | sed -n 's/^xmplay-exit=//p')
    [ "$code" = "$1" ] || fail "exit code $code, expected $1"
    pane | grep -qE '^terminal: isig icanon echo *$' || fail "the terminal was not restored: $(pane | grep '^terminal:')"
    [ "$(cursor_visible)" = 1 ] || fail "the cursor was left hidden"
}

case_status() {
    start_pane "$small_song"
    wait_pane '"seed"' || fail "no title"
    first=$(shown_ms)
    sleep 1
    second=$(shown_ms)
    [ -n "$first" ] && [ -n "$second" ] && [ "$second" -gt "$first" ] || fail "the time did not advance ($first, $second)"
    pane | grep -qE '^0:[0-9]{2}\.[0-9]{3} / 0:12\.480  \[[#.]+\] +[0-9]+%' || fail "no times with a progress bar"
    pane | grep -qE '^order [0-9]/4  pattern [0-9]+  row [0-9]+/[0-9]+  speed [0-9]+  bpm [0-9]+$' ||
        fail "no order, row, speed and bpm"
    pane | grep -qE '^01 [#.]{8} 02 [#.]{8} 03 [#.]{8} 04 [#.]{8}$' || fail "no level meters"
    # Redrawn in place: one status area on the screen, nothing scrolled away.
    [ "$(pane | grep -c '"seed"')" = 1 ] || fail "the status area was drawn more than once"
    [ "$(tmx display -p '#{history_size}')" = 0 ] || fail "the status area scrolled"
    [ "$(cursor_visible)" = 0 ] || fail "the cursor shows while the status area is drawn"

    tmx send-keys ' '
    wait_pane 'paused' 3 || fail "space did not pause"
    sleep 0.2
    held=$(shown_ms)
    sleep 1
    [ "$(shown_ms)" = "$held" ] || fail "the time moved while paused ($held, $(shown_ms))"
    tmx send-keys ' '
    sleep 1
    [ "$(shown_ms)" -gt "$held" ] || fail "the time did not go on after the pause"
    pane | grep -q 'paused' && fail "still paused"
    tmx send-keys q
    finish 0
}

case_keys() {
    cp "$small_song" "$work/third.xm"
    start_pane --seconds 30 "$small_song" "$effects_song" "$work/third.xm"
    wait_pane '^\[1/3\]' || fail "the first file did not play"
    tmx send-keys n
    wait_pane '^\[2/3\] .*effects_linear.xm' 5 || fail "n did not go to the second file"
    tmx send-keys p
    wait_pane '^\[1/3\] .*small_song.xm' 5 || fail "p did not go back to the first file"
    tmx send-keys n
    wait_pane '^\[2/3\]' 5 || fail "n did not go to the second file again"
    tmx send-keys n
    wait_pane '^\[3/3\] .*third.xm' 5 || fail "n did not go to the third file"
    tmx send-keys Escape
    finish 0
}

case_signals() {
    start_pane "$small_song"
    wait_pane '"seed"' || fail "no title"
    tmx send-keys C-c
    finish 0

    tmx kill-server
    start_pane "$small_song"
    wait_pane '"seed"' || fail "no title"
    [ -s "$pid_file" ] || fail "no process id"
    # A crash of the player, from the outside: the handler puts the terminal back before the program dies.
    kill -SEGV "$(cat "$pid_file")"
    finish 139
}

case_refused() {
    printf 'this is not a module' >"$work/junk.xm"
    # The signature of a module and a header of zeros (no tempo): the loader refuses it.
    { head -c 17 "$small_song"; head -c 400 /dev/zero; } >"$work/damaged.xm"

    # Through a pipe: one line per song, the refusals on standard error, exit 1.
    export SDL_AUDIODRIVER=dummy
    "$xmplay" --seconds 0.5 "$small_song" "$work/junk.xm" "$work/missing.xm" "$work/damaged.xm" "$effects_song" \
        </dev/null >"$work/out.log" 2>"$work/err.log"
    code=$?
    [ "$code" = 1 ] || fail "exit code $code with refused files"
    expected_out="[1/5] $small_song  \"seed\"  0:00.500
[5/5] $effects_song  0:00.500"
    [ "$(cat "$work/out.log")" = "$expected_out" ] || fail "the lines per song are not as expected"
    grep -qxF "xmplay: cannot load $work/junk.xm: not an XM module" "$work/err.log" || fail "no line for junk.xm"
    grep -qxF "xmplay: cannot load $work/missing.xm: no such file" "$work/err.log" || fail "no line for missing.xm"
    grep -qxF "xmplay: cannot load $work/damaged.xm: a damaged or unsupported XM module" "$work/err.log" ||
        fail "no line for damaged.xm"
    [ "$(grep -c . "$work/err.log")" = 3 ] || fail "more on standard error than the three refusals"

    "$xmplay" -q --seconds 0.5 "$small_song" </dev/null >"$work/quiet.log" 2>&1 || fail "-q failed"
    [ -s "$work/quiet.log" ] && fail "-q still wrote"

    # No audio device: the intro's own start-up line, exit 1.
    SDL_AUDIODRIVER=no-such-driver "$xmplay" "$small_song" </dev/null >"$work/nodevice.log" 2>/dev/null
    code=$?
    [ "$code" = 1 ] || fail "exit code $code without an audio device"
    [ "$(cat "$work/nodevice.log")" = "Error upon initialization" ] || fail "not the intro's start-up line"

    for usage in "" "--rate 10 $small_song" "--seconds 0 $small_song" "--bogus $small_song"; do
        # shellcheck disable=SC2086
        "$xmplay" $usage </dev/null >/dev/null 2>&1
        code=$?
        [ "$code" = 2 ] || fail "exit code $code for the usage '$usage'"
    done

    # Under tmux: the refusal's line above the status area, the other two files play.
    start_pane --seconds 1.5 "$small_song" "$work/junk.xm" "$effects_song"
    seen=""
    for _ in $(seq 100); do
        screen=$(pane)
        grep -q '^\[1/3\] ' <<<"$screen" && seen="$seen 1"
        grep -q '^\[3/3\] ' <<<"$screen" && seen="$seen 3"
        grep -q '^xmplay-exit=' <<<"$screen" && break
        sleep 0.1
    done
    [[ "$seen" == *1* && "$seen" == *3* ]] || fail "not both playable files were shown playing ($seen)"
    pane | grep -qxF "xmplay: cannot load $work/junk.xm: not an XM module" || fail "no refusal line in the pane"
    finish 1
}

case "$case_name" in
exact_intro | exact_small | exact_effects)
    case_exact "${case_name#exact_}"
    ;;
pause)
    case_pause
    ;;
status | keys | signals | refused)
    command -v tmux >/dev/null || skip "tmux is not installed (scripts/packages.sh lists it)"
    "case_$case_name"
    ;;
*)
    echo "unknown case $case_name"
    exit 2
    ;;
esac
echo "PASS ($case_name)"
