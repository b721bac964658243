#!/usr/bin/env bash
# Builds the benchmarks, xmrender and the intro in Release (build-bench), measures every cost figure and
# prints one table: figure, value, target, met or not.
#
#   bench/run.sh                 all figures (about ten minutes, most of it two whole recordings: --record
#                                and the video the browser makes)
#   REPS=9 bench/run.sh          more repetitions (medians are reported)
#   STREAM_SECONDS=60 bench/run.sh   a longer look at the streaming thread
#
# Needs: cmake, a C++ compiler, Google Benchmark, python3, GNU time (/usr/bin/time); Xvfb for the intro's figures (skipped without it).
# Times are CPU times of one thread where the figure is a throughput (the machine may be shared), and wall
# times where the figure is a latency (start-up). Raw results are kept in build-bench/bench-results/.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${BUILD:-$ROOT/build-bench}
REPS=${REPS:-5}
STREAM_SECONDS=${STREAM_SECONDS:-20}
RESULTS=$BUILD/bench-results

cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD" -j2 --target mixer_bench song_bench xmrender tarnwick intro_probe >/dev/null
rm -rf "$RESULTS"
mkdir -p "$RESULTS"

echo "Benchmarks ($REPS repetitions each)..." >&2
"$BUILD/bench/mixer_bench" --benchmark_repetitions="$REPS" --benchmark_report_aggregates_only=true \
    --benchmark_min_time=0.2 --benchmark_format=json >"$RESULTS/mixer.json"
"$BUILD/bench/song_bench" --benchmark_repetitions="$REPS" --benchmark_report_aggregates_only=true \
    --benchmark_min_time=0.5 --benchmark_format=json >"$RESULTS/song.json"

"$BUILD/bench/song_bench" --write-busy32 "$RESULTS/busy32.xm"
"$BUILD/bench/song_bench" --sample-bytes "$ROOT/data/glimrook.xm" >"$RESULTS/glimrook.samplebytes"
"$BUILD/bench/song_bench" --sample-bytes "$RESULTS/busy32.xm" >"$RESULTS/busy32.samplebytes"

# The intro under a virtual display of its own, with SDL's dummy audio driver; the probe reports and ends it.
source "$ROOT/tests/support/x11.sh"
fail() { echo "$*" >&2; exit 1; }
cleanup() {
    if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT
if command -v Xvfb >/dev/null; then
    echo "The intro under Xvfb..." >&2
    start_xvfb 800x600x16
    run_intro() {  # $1: seconds to run after the first frame (0: end at it)
        (cd "$ROOT" && SDL_AUDIODRIVER=dummy \
            LD_PRELOAD="$BUILD/bench/libintro_probe.so" TW_PROBE_OUT="$RESULTS/probe.txt" \
            TW_PROBE_SECONDS="$1" TW_PROBE_START_NS=$(date +%s%N) \
            timeout $(( $1 + 60 )) "$BUILD/shell/tarnwick" >/dev/null 2>&1) || true
    }
    # A first start warms the file cache; it is not counted.
    run_intro 0
    : >"$RESULTS/probe.txt"
    for _ in $(seq "$REPS"); do run_intro 0; done
    run_intro "$STREAM_SECONDS"
fi

# The browser build's figures, where web/build.sh has made the site and Chromium is there.
if [ -f "$ROOT/build-web/site/tarnwick-single.wasm" ] && command -v chromium >/dev/null; then
    echo "The greeting in Chromium..." >&2
    /usr/bin/python3 "$ROOT/bench/web_figures.py" "$ROOT/build-web/site" "$REPS" >"$RESULTS/web.json"
fi

echo "xmrender..." >&2
python3 - "$ROOT" "$BUILD" "$RESULTS" "$REPS" "$STREAM_SECONDS" <<'EOF'
import json, os, resource, statistics, subprocess, sys, time

root, build, results, reps, stream_seconds = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), sys.argv[5]
xmrender = os.path.join(build, "tools/xmrender/xmrender")

def aggregates(path):
    """name -> {aggregate -> benchmark record} from Google Benchmark's JSON."""
    out = {}
    for b in json.load(open(path))["benchmarks"]:
        out.setdefault(b["run_name"], {})[b.get("aggregate_name", "")] = b
    return out

mixer = aggregates(os.path.join(results, "mixer.json"))
song = aggregates(os.path.join(results, "song.json"))

def median(records, name, field):
    return records[name]["median"][field]

# xmrender: CPU time (user + system, the file write included) and wall time of whole renders.
# The WAV goes to memory-backed /dev/shm where there is one, so the disk's speed is not what is measured.
out_dir = "/dev/shm" if os.path.isdir("/dev/shm") and os.access("/dev/shm", os.W_OK) else results
def render(module, label):
    wav = os.path.join(out_dir, "tw-bench-%d-%s.wav" % (os.getpid(), label))
    rss_file = os.path.join(results, label + ".rss")
    cpu, wall, rss = [], [], 0
    for _ in range(reps):
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        start = time.perf_counter()
        # GNU time reports the peak resident size of xmrender alone (a child's own figure from Python would
        # start from the size of the forked Python process).
        subprocess.run(["/usr/bin/time", "-f", "%M", "-o", rss_file, xmrender, "-q", module, wav], check=True)
        wall.append(time.perf_counter() - start)
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        cpu.append((after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime))
        rss = max(rss, int(open(rss_file).read().split()[-1]))
    seconds = (os.path.getsize(wav) - 44) / 4 / 44100.0
    os.remove(wav)
    return seconds, statistics.median(cpu), statistics.median(wall), rss / 1024.0

glim = render(os.path.join(root, "data/glimrook.xm"), "glimrook")

# The whole intro recorded as a video (800 x 600, 60 fps, the song's first pass and the fade), once: CPU time
# of all threads (x264 and the software rasteriser use both cores) and wall time, against the video's length.
def record():
    mp4 = os.path.join(out_dir, "tw-bench-%d.mp4" % os.getpid())
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
    subprocess.run([os.path.join(build, "shell/tarnwick"), "--record", mp4, "-q"], check=True, cwd=root, env=env)
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    size = os.path.getsize(mp4)
    os.remove(mp4)
    return wall, cpu, size
rec_wall, rec_cpu, rec_size = record()
busy = render(os.path.join(results, "busy32.xm"), "busy32")

rows = []
def row(figure, value, target, met):
    rows.append((figure, value, target, "—" if met is None else ("yes" if met else "NO")))

best = None
for name in mixer:
    if name.startswith("BM_SndMixVoices/") and "kernel:0" not in name:
        best = name.split("kernel:")[1]
fast_kernel = "kernel:" + best
def lowest(ramp, kernel):
    names = [n for n in mixer if n.startswith("BM_SndMixVoices/") and ("ramp:%d" % ramp) in n and n.endswith(kernel)]
    values = {n: median(mixer, n, "voice_frames_per_s") for n in names}
    name = min(values, key=values.get)
    return values[name], name.split("/")[1] + " " + ("ping-pong" if "pingpong:1" in name else "forward")

v, where = lowest(0, fast_kernel)
row("Mixer, looping voices, no ramp (lowest of 1/8/32/64 voices x forward/ping-pong; %s)" % where,
    "%.0f M voice-frames/s" % (v / 1e6), ">= 800 M", v >= 800e6)
v, where = lowest(1, fast_kernel)
row("Mixer, looping voices, ramp on every frame (lowest; %s)" % where,
    "%.0f M voice-frames/s" % (v / 1e6), ">= 250 M", v >= 250e6)
v, _ = lowest(0, "kernel:0")
row("  reference mixer, no ramp (lowest)", "%.0f M voice-frames/s" % (v / 1e6), "—", None)
v, _ = lowest(1, "kernel:0")
row("  reference mixer, ramp (lowest)", "%.0f M voice-frames/s" % (v / 1e6), "—", None)

for label, (seconds, cpu, wall, rss), target, samples in (
        ("intro's song (%.0f s)", glim, 2500, "glimrook"), ("32-track busy module (%.0f s)", busy, 600, "busy32")):
    name = label % seconds
    row("xmrender " + name + ", CPU time (WAV to %s)" % out_dir, "%.0fx real time (%.1f ms)" % (seconds / cpu, cpu * 1e3),
        ">= %dx" % target, seconds / cpu >= target)
    row("  the same, wall time on this shared machine", "%.0fx (%.1f ms)" % (seconds / wall, wall * 1e3), "—", None)
    sample_mb = int(open(os.path.join(results, samples + ".samplebytes")).read()) / 1048576.0
    row("xmrender " + name + ", peak resident size", "%.1f MB" % rss, "< 20 + %.1f MB" % sample_mb,
        rss < 20 + sample_mb)

rec_seconds = glim[0] + 1.0
row("tarnwick --record, whole song + fade (%.0f s), 800x600 60 fps, wall" % rec_seconds,
    "%.2fx real time (%.0f s)" % (rec_seconds / rec_wall, rec_wall), ">= 2x", rec_seconds / rec_wall >= 2)
row("  the same, CPU time of all threads", "%.0f s (%.2fx real time on 2 cores)" % (rec_cpu, 2 * rec_seconds / rec_cpu),
    "—", None)
row("  the MP4 file's size", "%.1f MB (%.0f kbit/s)" % (rec_size / 1048576.0, rec_size * 8 / rec_seconds / 1000),
    "—", None)

for kernel, label in ((fast_kernel, "fast"), ("kernel:0", "reference")):
    for bench, target in (("BM_Render_Glimrook", 2500), ("BM_Render_Busy32", 600)):
        x = median(song, "%s/%s" % (bench, kernel), "realtime_x")
        row("  in-process render %s, %s mixer (CPU)" % (bench[10:], label), "%.0fx real time" % x,
            (">= %dx" % target) if label == "fast" else "—", (x >= target) if label == "fast" else None)

tick = median(song, "BM_ModUpdateTick_Busy32", "cpu_time")
row("ModUpdateTick, 32 tracks, per tick (CPU)", "%.2f us (%.3f %% of a 20 ms tick)" % (tick / 1e3, tick / 2e5), "—", None)
row("ModLoadSong, intro's song (CPU)", "%.2f ms" % median(song, "BM_ModLoadSong_Glimrook", "cpu_time"), "—", None)
row("LoadDibImage, glyph set and pictures (CPU)",
    "%.2f ms" % median(song, "BM_LoadDibImage_GlyphSetAndPictures", "cpu_time"), "—", None)
load = median(song, "BM_StartupLoadAndPreMix", "real_time")
row("Start-up loading: bitmaps, song, 2 s pre-mix (wall)", "%.2f ms" % load, "< 40 ms", load < 40)
heap = median(song, "BM_StartupLoadAndPreMix", "own_heap_MB")
row("Intro's own heap: bitmaps, song, ring and mix buffers", "%.1f MB" % heap, "< 20 MB", heap < 20)

probe = os.path.join(results, "probe.txt")
if os.path.exists(probe):
    values = {}
    for line in open(probe):
        name, value = line.split()
        values.setdefault(name, []).append(float(value))
    first = values.get("first_frame_ms", [])
    if len(first) > 1:
        # The last entry of each list is the streaming run's.
        def med(name):
            return statistics.median(values[name][:-1])
        start = med("first_frame_ms")
        row("Start-up to first presented frame, Xvfb (wall, median of %d)" % (len(first) - 1),
            "%.0f ms" % start, "< 250 ms", start < 250)
        window = statistics.median(
            [a - w for a, w in zip(values["audio_init_ms"][:-1], values["window_ms"][:-1])])
        row("  the same without window and GL context creation (wall)", "%.0f ms" % (start - window), "< 250 ms",
            start - window < 250)
        row("  window and GL context creation (wall)", "%.0f ms" % window, "—", None)
        row("  process CPU time up to the first frame (all threads)", "%.0f ms" % med("first_frame_cpu_ms"),
            "—", None)
        row("  SndInit's device open to audio start: song load and pre-mix (wall)",
            "%.1f ms" % (med("audio_start_ms") - med("audio_open_done_ms")), "< 40 ms",
            med("audio_start_ms") - med("audio_open_done_ms") < 40)
    if "stream_cpu_percent" in values:
        share = values["stream_cpu_percent"][-1]
        row("Streaming thread CPU, intro running (%s s)" % stream_seconds,
            "%.3f %% of a core" % share, "< 1 %", share < 1)
    if "process_heap_mb" in values:
        row("  whole process heap with X client and GL driver (Mesa)", "%.0f MB" % values["process_heap_mb"][-1],
            "—", None)
else:
    row("Start-up and streaming figures", "not measured (no Xvfb)", "", None)

web_path = os.path.join(results, "web.json")
if os.path.exists(web_path):
    web = json.load(open(web_path))
    site = web["shared_gz"] + web["studio_gz"] + web["threads_gz"] + web["single_gz"]
    row("The browser site, both builds, gzipped", "%.0f KB" % (site / 1000), "<= 1 MB", site <= 1000000)
    for build, name in (("threads", "with threads"), ("single", "without threads")):
        row("  what a reader downloads, the build %s" % name,
            "%.0f KB" % ((web["shared_gz"] + web[build + "_gz"]) / 1000), "—", None)
        row("Chromium, the build %s: load to the opening screen (wall)" % name,
            "%.2f s" % web[build + "_opening_s"], "<= 2 s", web[build + "_opening_s"] <= 2)
        row("  the click to the first frame (wall)", "%.2f s" % web[build + "_first_frame_s"], "<= 1 s",
            web[build + "_first_frame_s"] <= 1)
    row("The studio page beyond the greeting page, gzipped", "%.0f KB" % (web["studio_gz"] / 1000), "<= 300 KB",
        web["studio_gz"] <= 300000)
    row("  the build without threads: main thread mixing (20 s of the song)",
        "%.2f %% of a core" % web["single_mixing_percent"], "<= 2 %", web["single_mixing_percent"] <= 2)
    song_seconds = glim[0] + 1.0
    row("Chromium, the whole greeting as a video (%.0f s, 800x600 60 fps, build with threads), wall" % song_seconds,
        "%.2fx real time (%.0f s)" % (song_seconds / web["video_s"], web["video_s"]), ">= 1x",
        song_seconds / web["video_s"] >= 1)
    row("  the same, CPU time of all the browser's processes",
        "%.0f s (%.2fx real time on 2 cores)" % (web["video_cpu_s"], 2 * song_seconds / web["video_cpu_s"]), "—", None)
    row("  drawing and reading back the pictures (main thread, waiting on WebGL)",
        "%.0f s (%.1f ms a picture)" % (web["video_draw_s"], 1000 * web["video_draw_s"] / (song_seconds * 60)),
        "—", None)
    row("  waiting for the H.264 encoder's queue; for the %s encoder" % web["video_sound"].upper(),
        "%.0f s; %.1f s" % (web["video_picture_wait_s"], web["video_sound_wait_s"]), "—", None)
    row("  loading the program and the muxer; finishing the file",
        "%.1f s; %.1f s" % (web["video_load_s"], web["video_finish_s"]), "—", None)
    row("  the MP4 file's size", "%.1f MB (%.0f kbit/s)" % (web["video_bytes"] / 1048576.0,
                                                          web["video_bytes"] * 8 / song_seconds / 1000), "—", None)
    row("  what making a video downloads, gzipped (and the MP3 encoder where no AAC)",
        "%.0f KB (+ %.0f KB)" % (web["video_gz"] / 1000, web["mp3_gz"] / 1000), "—", None)
else:
    row("Browser figures", "not measured (no build-web/site or no Chromium)", "", None)

row("Machine load average (1, 5, 15 min) at the end; 2 cores shared", "%.1f %.1f %.1f" % os.getloadavg(), "—", None)

width = max(len(r[0]) for r in rows)
vwidth = max(len(r[1]) for r in rows)
twidth = max(len(r[2]) for r in rows)
print("%-*s  %-*s  %-*s  %s" % (width, "Figure", vwidth, "Value", twidth, "Target", "Met"))
print("-" * (width + vwidth + twidth + 10))
for figure, value, target, met in rows:
    print("%-*s  %-*s  %-*s  %s" % (width, figure, vwidth, value, twidth, target, met))
EOF
