#!/usr/bin/env python3
"""Compares what SDL's disk audio driver captured from a real run with the offline render of the same song.

Both are 16-bit stereo at the render's rate. After the leading silence of each (the device runs paused
until the ring is queued; a song may begin with silence of its own), the capture must equal the render
frame for frame, except for stretches of silence inserted by pauses, and after the equal part only the
silence of the stopped device may follow.

Usage: compare_capture.py CAPTURE.raw RENDER.wav [--min-seconds S | --whole] [--pauses N]
                          [--pause-seconds MIN MAX]
  --min-seconds S   the equal part must cover at least S seconds of the render
  --whole           the equal part must cover the whole render (a run that played the song to its end)
  --pauses N        exactly N stretches of silence must have been inserted (default 0)
  --pause-seconds   and each must last MIN to MAX seconds
Exit code 0 when the capture is the render, 1 otherwise; one line of figures either way.
"""
import argparse
import sys
import wave

FRAME = 4
SILENCE = b"\0" * FRAME


def first_sound(data, start=0):
    """Byte offset of the first non-silent frame at or after start (len(data) when there is none)."""
    for i in range(start, len(data) - FRAME + 1, FRAME):
        if data[i:i + FRAME] != SILENCE:
            return i
    return len(data)


def common_prefix(a, a_at, b, b_at):
    """Bytes from a_at and b_at that a and b have in common, in whole frames; found a block at a time."""
    n = min(len(a) - a_at, len(b) - b_at)
    same = 0
    step = 1 << 16
    while same < n:
        end = min(same + step, n)
        if a[a_at + same:a_at + end] == b[b_at + same:b_at + end]:
            same = end
            continue
        while same + FRAME <= n and a[a_at + same:a_at + same + FRAME] == b[b_at + same:b_at + same + FRAME]:
            same += FRAME
        break
    return same - same % FRAME


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("capture")
    parser.add_argument("render")
    parser.add_argument("--min-seconds", type=float, default=0.0)
    parser.add_argument("--whole", action="store_true")
    parser.add_argument("--pauses", type=int, default=0)
    parser.add_argument("--pause-seconds", type=float, nargs=2, default=None)
    args = parser.parse_args()

    with wave.open(args.render, "rb") as w:
        if (w.getnchannels(), w.getsampwidth()) != (2, 2):
            print("the render is not 16-bit stereo")
            return 1
        rate = w.getframerate()
        render = w.readframes(w.getnframes())
    capture = open(args.capture, "rb").read()
    capture = capture[:len(capture) // FRAME * FRAME]
    bytes_per_second = rate * FRAME

    c = first_sound(capture)
    r = first_sound(render)
    captured = len(capture) - c
    inserted = []  # seconds of silence inserted by each pause
    while True:
        same = common_prefix(capture, c, render, r)
        c += same
        r += same
        if c >= len(capture) or r >= len(render):
            break
        # Where they part: silence in the capture that the render does not have is a pause.
        c_sound = first_sound(capture, c)
        r_sound = first_sound(render, r)
        if c_sound == len(capture):
            break  # only silence follows in the capture: the device stopped
        extra = (c_sound - c) - (r_sound - r)
        if extra <= 0 or r_sound == len(render):
            break
        inserted.append(extra / bytes_per_second)
        c = c_sound
        r = r_sound

    rest = capture[c:]
    rest_silent = rest.count(0) == len(rest)
    equal_seconds = r / bytes_per_second
    print("captured %.2f s after the leading silence; %.2f s of the render (%.2f s) equal; pauses inserted: %s; "
          "%d bytes after that, %s"
          % (captured / bytes_per_second, equal_seconds, len(render) / bytes_per_second,
             ", ".join("%.2f s" % s for s in inserted) or "none", len(rest),
             "all silence" if rest_silent else "NOT silence"))
    ok = True
    if not rest_silent:
        frame_at = r // FRAME
        print("first difference at frame %d of the render (%.3f s after its first sound)"
              % (frame_at, (r - first_sound(render)) / bytes_per_second))
        ok = False
    if args.whole and render[r:].count(0) != len(render) - r:
        print("the capture ends before the render does")
        ok = False
    if equal_seconds < args.min_seconds:
        print("too little audio was captured (at least %.2f s expected)" % args.min_seconds)
        ok = False
    if len(inserted) != args.pauses:
        print("%d pauses expected" % args.pauses)
        ok = False
    if args.pause_seconds is not None:
        low, high = args.pause_seconds
        for seconds in inserted:
            if not low <= seconds <= high:
                print("a pause of %.2f s, expected %.2f to %.2f s" % (seconds, low, high))
                ok = False
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
