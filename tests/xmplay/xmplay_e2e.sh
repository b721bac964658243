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
#   small        under tmux: the status area of a 32-track song in an 80 x 10 pane, and a file name of
#                double-width characters in an 80 x 24 pane: on screen once, and the scrollback never grows.
#   keys         under tmux: n and p between three files, Alt+n and arrows doing nothing, Esc quitting.
#   signals      under tmux: Ctrl-C and SIGTERM end xmplay by the signal (130, 143) with the terminal restored,
#                and one Ctrl-C ends a shell loop over files; a crash signal leaves a restored terminal.
#   suspend      under tmux, in a shell with job control: Ctrl-Z and a SIGTSTP give the shell its terminal back
#                (line mode, the cursor shown); fg takes it again (q quits without Enter) and redraws.
#   refused      a file that is no module among three: its line, the other two play, exit 1 (under tmux and
#                through a pipe, where each song gets one line); a missing or damaged file, no audio device,
#                bad usage.
#   pipes        a song from a pipe: xmplay -, /dev/stdin, <(...) and a named pipe that p goes back to;
#                xmrender <(...) writes what it writes from the file; tarnwick --song <(...) records it.
# A host too busy to feed the device in time (xmplay reports it) makes a capture case skip with its figures
# (exit 77); a machine without tmux skips the tmux cases.
# Usage (from the repository root): xmplay_e2e.sh CASE XMPLAY XMRENDER MAKE_XM_CORPUS MAKE_PLAY_CORPUS [TARNWICK]
# (TARNWICK: an intro that records, for the pipes case).
set -u
case_name=$1
xmplay=$2
xmrender=$3
make_xm_corpus=$4
make_play_corpus=$5
tarnwick=${6:-}

work=$(mktemp -d)
socket="xmplay-e2e-$$"
pid_file="$work/xmplay.pid"
cleanup() {
    # A writer into a named pipe that nobody opened.
    local job
    for job in $(jobs -p); do kill "$job" 2>/dev/null; done
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
wide_song="$work/wide.xm"  # 32 tracks

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

# The server in a UTF-8 locale, so that it measures wide characters as a terminal does.
tmx() {
    LC_ALL=C.UTF-8 tmux -u -L "$socket" -f /dev/null "$@"
}

# start_pane [XMPLAY ARGS...]: xmplay in a pane of PANE_SIZE (100x30 unless set); when it ends the pane shows its
# exit code and the terminal's line settings, and stays. The pane's shell outlives a Ctrl-C that ends xmplay.
# With PANE_JOBS=1 the shell has job control: a stopped xmplay gives the shell the terminal, which shows
# "stopped N: STATUS SETTINGS" and brings xmplay back (fg) on Enter.
start_pane() {
    start_pane_running "$xmplay" "$@"
}

# start_pane_running PROGRAM [ARGS...]: the same for any program (its process id goes to $pid_file).
start_pane_running() {
    cat >"$work/pane.sh" <<'EOF'
pid_file=$1
shift
ulimit -c 0  # the crash case leaves no core file behind
trap ':' INT
settings() { stty -a | tr ' ;' '\n\n' | grep -xE -- '-?(icanon|echo|isig)' | tr '\n' ' '; }
[ "${PANE_JOBS:-0}" = 1 ] && set -m
bash -c 'echo $$ > "$0"; exec "$@"' "$pid_file" "$@"
code=$?
# A stopped player, twice at most: written out, since bash leaves a loop whose foreground job stops.
stopped() {
    jobs %1 >/dev/null 2>&1 || return "$code"  # ended by a signal, not stopped
    echo "stopped $1: $code $(settings)"
    read -r _
    fg %1 >/dev/null
}
[ "$code" -gt 128 ] && { stopped 1; code=$?; }
[ "$code" -gt 128 ] && { stopped 2; code=$?; }
echo "xmplay-exit=$code"
echo "terminal: $(settings)"
exec sleep 600
EOF
    rm -f "$pid_file"
    local size=${PANE_SIZE:-100x30}
    tmx new-session -d -x "${size%x*}" -y "${size#*x}" -e SDL_AUDIODRIVER=dummy -e PANE_JOBS="${PANE_JOBS:-0}" \
        bash "$work/pane.sh" "$pid_file" "$@" || fail "tmux did not start"
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

# The lines of scrollback above the pane.
scrollback() {
    tmx display -p '#{history_size}'
}

case_small() {
    # 32 tracks in 80 x 10: nine lines at most, the meters that do not fit counted, nothing scrolled away.
    PANE_SIZE=80x10 start_pane --seconds 30 "$wide_song"
    wait_pane '^\+[0-9]+ tracks$' || fail "no line for the tracks not shown"
    pane | head -1 | grep -q '^\[1/1\] .*wide\.xm' || fail "the heading is not on the pane's first line"
    [ "$(pane | grep -c '^\[1/1\]')" = 1 ] || fail "the heading was drawn more than once"
    pane | grep -qx 'space pause  n next  p previous  q quit' || fail "no keys line"
    before=$(scrollback)
    sleep 2
    [ "$(scrollback)" = "$before" ] && [ "$before" = 0 ] ||
        fail "the status area scrolled: $before lines of scrollback, then $(scrollback)"
    tmx send-keys q
    finish 0
    tmx kill-server

    # A file name of 45 double-width characters in 80 x 24: cut to the width, drawn in place.
    local name="$work/"
    for _ in $(seq 45); do name="$name音"; done
    name="$name.xm"
    cp "$small_song" "$name"
    PANE_SIZE=80x24 start_pane --seconds 30 "$name"
    wait_pane '^01 [#.]{8} ' || fail "no status area"
    sleep 2
    [ "$(pane | grep -c '^\[1/1\] ')" = 1 ] || fail "the heading was drawn more than once"
    [ "$(scrollback)" = 0 ] || fail "the status area scrolled: $(scrollback) lines of scrollback"
    tmx send-keys q
    finish 0
}

case_keys() {
    cp "$small_song" "$work/third.xm"
    start_pane --seconds 30 "$small_song" "$effects_song" "$work/third.xm"
    wait_pane '^\[1/3\]' || fail "the first file did not play"
    # Alt+n, Alt+q and arrows are neither keys of their own nor Esc.
    tmx send-keys M-n M-q Up Down Left F1
    sleep 1
    pane | grep -q '^\[1/3\]' || fail "Alt+n, Alt+q or an arrow did something"
    pane | grep -q '^xmplay-exit=' && fail "Alt+n, Alt+q or an arrow quit"
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
    # Ctrl-C: xmplay dies of SIGINT once the terminal is back, as the shell must see it.
    start_pane "$small_song"
    wait_pane '"seed"' || fail "no title"
    tmx send-keys C-c
    finish 130

    tmx kill-server
    start_pane "$small_song"
    wait_pane '"seed"' || fail "no title"
    [ -s "$pid_file" ] || fail "no process id"
    kill -TERM "$(cat "$pid_file")"
    finish 143

    # One Ctrl-C ends a loop over files, not just the file playing.
    tmx kill-server
    cp "$small_song" "$work/second.xm"
    start_pane_running bash -c 'for f in "$@"; do "$0" --seconds 30 "$f"; done' "$xmplay" "$small_song" \
        "$work/second.xm"
    wait_pane '^\[1/1\] .*small_song' || fail "the loop's first file did not play"
    tmx send-keys C-c
    finish 130
    pane | grep -q 'second\.xm' && fail "the loop went on to the next file"

    tmx kill-server
    start_pane "$small_song"
    wait_pane '"seed"' || fail "no title"
    [ -s "$pid_file" ] || fail "no process id"
    # A crash of the player, from the outside: the handler puts the terminal back before the program dies.
    kill -SEGV "$(cat "$pid_file")"
    finish 139
}

# Ctrl-Z (or SIGTSTP) and fg, in a shell with job control.
case_suspend() {
    PANE_JOBS=1 start_pane --seconds 60 "$small_song"
    wait_pane '"seed"' || fail "no title"
    [ "$(cursor_visible)" = 0 ] || fail "the cursor shows while the status area is drawn"
    local round headings
    for round in 1 2; do
        if [ "$round" = 1 ]; then
            tmx send-keys C-z
        else
            kill -TSTP "$(cat "$pid_file")"
        fi
        wait_pane "^stopped $round: " 5 || fail "xmplay did not stop (round $round)"
        # The shell has the terminal as it was, and the cursor.
        pane | grep -qE "^stopped $round: 148 isig icanon echo *\$" ||
            fail "the terminal was not put back for the shell: $(pane | grep "^stopped $round:")"
        [ "$(cursor_visible)" = 1 ] || fail "the cursor was left hidden at the shell's prompt (round $round)"
        # fg: the status area is drawn anew below the shell's lines.
        headings=$(pane | grep -c '"seed"')
        tmx send-keys Enter
        for _ in $(seq 50); do
            [ "$(pane | grep -c '"seed"')" -gt "$headings" ] && break
            sleep 0.1
        done
        [ "$(pane | grep -c '"seed"')" -gt "$headings" ] || fail "no status area after fg (round $round)"
        [ "$(cursor_visible)" = 0 ] || fail "the cursor shows after fg (round $round)"
    done
    # The keys work again without Enter: the player has its mode back.
    tmx send-keys q
    finish 0
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

# pipe_play LOG-NAME [XMPLAY ARGS...]: xmplay with no terminal, 0.3 s of each song, its lines into LOG-NAME.log.
pipe_play() {
    local name=$1
    shift
    SDL_AUDIODRIVER=dummy timeout 60 "$xmplay" --seconds 0.3 "$@" >"$work/$name.log" 2>&1
}

case_pipes() {
    # xmplay: standard input as "-" and as /dev/stdin, a process substitution; each song loads from its bytes.
    cat "$small_song" | pipe_play dash - || fail "xmplay - ended with $?"
    [ "$(cat "$work/dash.log")" = "[1/1] -  \"seed\"  0:00.300" ] || fail "xmplay - played no song"
    cat "$small_song" | pipe_play stdin /dev/stdin || fail "xmplay /dev/stdin ended with $?"
    [ "$(cat "$work/stdin.log")" = "[1/1] /dev/stdin  \"seed\"  0:00.300" ] || fail "xmplay /dev/stdin played no song"
    pipe_play substitution <(cat "$small_song") "$effects_song" </dev/null || fail "xmplay <(...) ended with $?"
    grep -qE '^\[1/2\] /dev/fd/[0-9]+  "seed"  0:00\.300$' "$work/substitution.log" ||
        fail "xmplay <(...) played no song"
    printf 'no module' | pipe_play junk -
    [ $? = 1 ] || fail "a pipe of junk did not end with exit 1"
    [ "$(cat "$work/junk.log")" = "xmplay: cannot load -: not an XM module" ] || fail "no line for the junk"
    pipe_play twice - - </dev/null
    [ $? = 2 ] || fail "- given twice is no usage error"

    # A named pipe can be read only once: p goes back to the bytes read the first time.
    mkfifo "$work/song.fifo"
    cat "$small_song" >"$work/song.fifo" &
    start_pane --seconds 30 "$work/song.fifo" "$effects_song"
    wait_pane '^\[1/2\] .*song\.fifo  "seed"' || fail "the named pipe did not play"
    tmx send-keys n
    wait_pane '^\[2/2\] ' 5 || fail "n did not go to the second file"
    tmx send-keys p
    wait_pane '^\[1/2\] .*song\.fifo  "seed"' 5 || fail "p did not play the named pipe again"
    pane | grep -q 'cannot load' && fail "a file was refused"
    tmx send-keys q
    finish 0

    # xmrender: the same samples from a pipe as from the file.
    "$xmrender" -q "$small_song" "$work/file.wav" >"$work/xmrender.log" 2>&1 || fail "xmrender failed on the file"
    "$xmrender" -q <(cat "$small_song") "$work/pipe.wav" >"$work/xmrender.log" 2>&1 || fail "xmrender <(...) failed"
    cmp -s "$work/file.wav" "$work/pipe.wav" || fail "xmrender wrote another render from the pipe"

    # The intro: --record loads the song twice (its length, then the sound), both from the one reading.
    [ -n "$tarnwick" ] || return 0
    env -u DISPLAY SDL_AUDIODRIVER=dummy timeout 120 "$tarnwick" --song <(cat "$small_song") \
        --record "$work/pipe.mp4" --size 160x120 --fps 10 -q >"$work/tarnwick.log" 2>&1 ||
        fail "tarnwick --song <(...) --record ended with $?"
    [ -s "$work/pipe.mp4" ] || fail "no recording"
    env -u DISPLAY SDL_AUDIODRIVER=dummy timeout 120 "$tarnwick" --song <(printf 'no module') \
        --record "$work/junk.mp4" -q >"$work/tarnwick.log" 2>&1
    [ $? = 1 ] || fail "a pipe of junk did not end the recording with exit 1"
    [ "$(cat "$work/tarnwick.log")" = "Error loading song" ] || fail "not the intro's own line"
}

case "$case_name" in
exact_intro | exact_small | exact_effects)
    case_exact "${case_name#exact_}"
    ;;
pause)
    case_pause
    ;;
status | small | keys | signals | suspend | refused | pipes)
    command -v tmux >/dev/null || skip "tmux is not installed (scripts/packages.sh lists it)"
    "case_$case_name"
    ;;
*)
    echo "unknown case $case_name"
    exit 2
    ;;
esac
echo "PASS ($case_name)"
