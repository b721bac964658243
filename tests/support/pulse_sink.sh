#!/usr/bin/env bash
# A sound server of the test's own for a browser on a machine without a sound card: Debian's PulseAudio with
# one null sink ("tarnwick", 44100 Hz, 16-bit stereo) as its default sink, reached through a socket in a
# folder the caller made, and parec recording the sink's monitor, as proof that sound reached the server.
#
#   pulse_sink.sh start DIR [OWNER_PID]
#       Starts the server and the recording in DIR (which must exist and is the caller's to remove) and
#       prints, one per line, the NAME=value settings a client needs (PULSE_SERVER and the files that keep
#       the client away from the user's own PulseAudio set-up). With OWNER_PID everything is stopped too when
#       that process ends without calling stop (a test that crashed or was killed).
#   pulse_sink.sh stop DIR
#       Ends the recording and the server started in DIR and waits until they are gone.
#
# The recording is DIR/monitor.raw: raw 16-bit little-endian stereo at 44100 Hz, everything the sink played,
# written out within about 50 ms.
# The server runs as whoever calls it, root included, without the system-wide mode: it writes only to DIR,
# loads no configuration of the machine's and talks to no D-Bus.
set -euo pipefail

Sink=tarnwick

usage() {
    echo "usage: pulse_sink.sh start DIR [OWNER_PID] | pulse_sink.sh stop DIR" >&2
    exit 2
}

# Ends the process whose id is in FILE (when it still runs) and waits up to 5 s for it to go.
end_by_pid_file() {
    local pid
    [ -f "$1" ] || return 0
    pid=$(cat "$1")
    rm -f "$1"
    [ -n "$pid" ] || return 0
    kill "$pid" 2>/dev/null || return 0
    for _ in $(seq 50); do
        kill -0 "$pid" 2>/dev/null || return 0
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
}

stop_all() {
    end_by_pid_file "$1/parec.pid"
    end_by_pid_file "$1/pulseaudio.pid"
}

# The settings every program of the test (the server, pactl, parec, the browser) runs with.
client_settings() {
    echo "PULSE_SERVER=unix:$1/native"
    echo "PULSE_COOKIE=$1/cookie"
    echo "PULSE_CLIENTCONFIG=$1/client.conf"
}

start() {
    local dir=$1 owner=${2:-} server_pid ready=""
    [ -d "$dir" ] || { echo "pulse_sink.sh: no folder $dir" >&2; exit 2; }
    dir=$(cd "$dir" && pwd)
    # A client that cannot reach this server must fail, not start a server of its own.
    printf 'autospawn = no\n' >"$dir/client.conf"
    mkdir -p "$dir/home" "$dir/runtime"
    local -a settings
    mapfile -t settings < <(client_settings "$dir")
    # No DISPLAY: with one PulseAudio would try to start a D-Bus session through the X server.
    env -u DISPLAY "${settings[@]}" HOME="$dir/home" XDG_RUNTIME_DIR="$dir/runtime" XDG_CONFIG_HOME="$dir/home" \
        PULSE_RUNTIME_PATH="$dir/runtime" PULSE_STATE_PATH="$dir/home" DBUS_SESSION_BUS_ADDRESS=disabled: \
        pulseaudio -n --daemonize=no --use-pid-file=no --exit-idle-time=-1 --disallow-exit \
        --log-target=stderr --log-level=warning \
        -L "module-null-sink sink_name=$Sink rate=44100 format=s16le channels=2" \
        -L "module-native-protocol-unix socket=$dir/native auth-anonymous=1" \
        </dev/null >"$dir/pulseaudio.log" 2>&1 &
    server_pid=$!
    echo "$server_pid" >"$dir/pulseaudio.pid"
    for _ in $(seq 100); do
        if env "${settings[@]}" pactl info >/dev/null 2>&1; then
            ready=1
            break
        fi
        kill -0 "$server_pid" 2>/dev/null || break
        sleep 0.1
    done
    if [ -z "$ready" ]; then
        stop_all "$dir"
        echo "pulse_sink.sh: the sound server did not start:" >&2
        cat "$dir/pulseaudio.log" >&2
        exit 1
    fi
    env "${settings[@]}" parec --device="$Sink.monitor" --format=s16le --rate=44100 --channels=2 --latency-msec=50 \
        </dev/null >"$dir/monitor.raw" 2>"$dir/parec.log" &
    echo $! >"$dir/parec.pid"
    if [ -n "$owner" ]; then
        # Stops everything once the owner has gone; ends by itself after a stop (the pid files are gone).
        (
            while kill -0 "$owner" 2>/dev/null && [ -f "$dir/pulseaudio.pid" ]; do
                sleep 1
            done
            stop_all "$dir"
        ) </dev/null >/dev/null 2>&1 &
    fi
    client_settings "$dir"
}

case "${1:-}" in
start)
    [ $# -ge 2 ] && [ $# -le 3 ] || usage
    start "$2" "${3:-}"
    ;;
stop)
    [ $# -eq 2 ] || usage
    stop_all "$2"
    ;;
*)
    usage
    ;;
esac
