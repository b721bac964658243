#!/usr/bin/env python3
"""Compares what the null sink heard while the intro ran under Wine with the offline render of the song, and
tells a fault of the intro's streaming from a stall of the host.

The sink plays in real time. The intro's streaming thread mixes the song block by block (884 frames) into a
ring of 100 blocks that the device plays in a loop, so each fault of the streaming has a shape of its own,
always at a block boundary of the song:
  - a block mixed too late: the ring's old contents are heard, the song of one ring turn (2 s) before;
  - a block skipped or mixed twice: the song jumps by a whole block, with no silence between.
A stall of the host looks different: Wine's sound path hands the sink nothing for a while (the sink plays
digital silence and the song goes on later), or drops what it could not hand over in time (the song jumps
ahead by some frames, anywhere in a block). Those are counted against the recording's clock.

Usage: check_audio.py HEARD.raw RENDER.wav WALL-MILLISECONDS
HEARD.raw is 16-bit little-endian stereo at 44100 Hz; RENDER.wav the render from the song's first frame;
WALL-MILLISECONDS how long the recording ran by the clock.
Exit 0: the music is the song in real time (small stalls of the host excused). Exit 1: a fault of the intro.
Exit 77: no fault of the intro was heard, but the host stalled too much to call the run a pass (the figures
are printed); a test runner reports that as a skip."""
import sys

RATE = 44100
FRAME = 4
BLOCK = 884                # frames the streaming thread mixes at a time
RING = 100 * BLOCK         # the looping ring: one turn is about 2 s
PIECE = 882                # 20 ms, the unit the recording is cut into to find it in the render
MIN_MUSIC_SECONDS = 6.0
# The first second of music, in which the device path may still drop sound as its stream starts.
STARTUP_SECONDS = 1.0
# How far one stall or drop of the device path is looked for around the music's place (half a second).
GLITCH_FRAMES = 22050
# Digital silence of 2 ms: the sound server ran out of data there.
GAP_FRAMES = 88
# A run of sound found nowhere in the song, longer than this, is not a glitch at the edge of a stall.
MAX_UNKNOWN_FRAMES = 4410
# A pass needs this share of exact pieces and no more drift than STARTUP_SECONDS.
MIN_EXACT_SHARE = 0.9
# A stall of the whole machine long enough (1 s) to have kept the streaming thread from its ring.
MACHINE_STALL_FRAMES = RATE
SKIP = 77


def wav_pcm(path):
    data = open(path, 'rb').read()
    if data[:4] != b'RIFF' or data[8:12] != b'WAVE':
        raise ValueError('%s is not a WAV file' % path)
    pos = 12
    while pos + 8 <= len(data):
        size = int.from_bytes(data[pos + 4:pos + 8], 'little')
        if data[pos:pos + 4] == b'data':
            return data[pos + 8:pos + 8 + size]
        pos += 8 + size + (size & 1)
    raise ValueError('%s has no data chunk' % path)


def first_sound(pcm):
    """Index of the first frame that is not silent, or -1."""
    stripped = pcm.lstrip(b'\0')
    if not stripped:
        return -1
    return (len(pcm) - len(stripped)) // FRAME


def last_sound(pcm):
    stripped = pcm.rstrip(b'\0')
    return (len(stripped) - 1) // FRAME


class Music:
    """The recording and the render, addressed in frames."""

    def __init__(self, heard, render):
        self.heard = heard
        self.render = render
        self.heard_frames = len(heard) // FRAME
        self.render_frames = len(render) // FRAME

    def same(self, at, shift, count):
        """Heard frames [at, at + count) equal render frames [at + shift, ...)."""
        if at < 0 or at + shift < 0 or at + count > self.heard_frames or at + shift + count > self.render_frames:
            return False
        return self.heard[at * FRAME:(at + count) * FRAME] == \
            self.render[(at + shift) * FRAME:(at + shift + count) * FRAME]

    def find(self, at, count, lo, hi):
        """A render frame in [lo, hi) where heard frames [at, at + count) stand, or -1."""
        chunk = self.heard[at * FRAME:(at + count) * FRAME]
        lo, hi = max(0, lo), min(self.render_frames, hi)
        place = self.render.find(chunk, lo * FRAME, (hi + count) * FRAME)
        while place >= 0 and place % FRAME != 0:
            place = self.render.find(chunk, place + 1, (hi + count) * FRAME)
        return -1 if place < 0 else place // FRAME

    def silent_frames(self, a, b):
        """Frames of digital silence in heard [a, b)."""
        return sum(1 for f in range(max(a, 0), min(b, self.heard_frames))
                   if self.heard[f * FRAME:(f + 1) * FRAME] == b'\0' * FRAME)


def anchors(music, start, frames):
    """Walks the music piece by piece; returns [(heard frame, shift)] for every piece found in the render,
    where render frame = heard frame + shift, and the number of pieces looked at."""
    found = []
    shift = None
    pieces = 0
    for offset in range(0, frames - PIECE + 1, PIECE):
        at = start + offset
        pieces += 1
        if shift is not None and music.same(at, shift, PIECE):
            found.append((at, shift))
            continue
        if shift is None or offset < STARTUP_SECONDS * RATE:
            place = music.find(at, PIECE, 0, music.render_frames)
        else:
            place = music.find(at, PIECE, at + shift - GLITCH_FRAMES, at + shift + GLITCH_FRAMES)
        if place >= 0:
            shift = place - at
            found.append((at, shift))
    return found, pieces


def classify(music, start, found):
    """Looks at every place where the music leaves the render: returns (faults, stalls), lists of text, and
    the frames the host moved the music in all (negative: later)."""
    faults = []
    stalls = []
    drift = 0
    recent_stalls = []   # (heard frame, frames of silence or delay) of the host's stalls
    for (at1, s1), (at2, s2) in zip(found, found[1:]):
        if at2 == at1 + PIECE and s1 == s2:
            continue
        seconds = (at1 + PIECE - start) / RATE
        # Exact edges: the music is the render at s1 up to e1, and again at s2 from b2 on.
        e1 = at1 + PIECE
        while e1 < at2 + PIECE and music.same(e1, s1, 1):
            e1 += 1
        b2 = at2
        while b2 > at1 and music.same(b2 - 1, s2, 1):
            b2 -= 1
        gap = max(0, b2 - e1)
        silence = music.silent_frames(e1, e1 + gap)
        moved = s2 - s1
        starting = seconds < STARTUP_SECONDS
        replay = gap >= BLOCK // 2 and any(music.same(e1, s1 - turn * RING, gap) for turn in (1, 2, 3))
        if replay and not starting:
            # The ring's old contents: the streaming thread did not mix this block in time. Only a stall of
            # the whole machine just before excuses that.
            machine = [s for s in recent_stalls if e1 - s[0] < 3 * RATE and s[1] >= MACHINE_STALL_FRAMES]
            text = ('%.2f s: %d frames of the song of one ring turn before were heard (a block not mixed in time)'
                    % (seconds, gap))
            if machine:
                stalls.append(text + ', after a stall of the machine')
            else:
                faults.append(text)
            continue
        if silence >= GAP_FRAMES:
            stalls.append('%.2f s: the sound server ran dry for %.1f ms, the music went on %.1f ms later'
                          % (seconds, silence * 1000.0 / RATE, -moved * 1000.0 / RATE))
            recent_stalls.append((e1, max(silence, -moved)))
            drift += moved
            continue
        # Where the song leaves one place for the other, frames that fit both places (silence, a held
        # sample) leave the switch anywhere between b2 and e1.
        at_block = any((f + s1) % BLOCK == 0 for f in range(min(e1, b2), max(e1, b2) + 1))
        if at_block and moved != 0 and moved % BLOCK == 0 and not starting:
            faults.append('%.2f s: the song jumped %+d blocks at a block boundary with no silence between '
                          '(a block skipped or mixed twice)' % (seconds, -moved // BLOCK))
            continue
        if gap - silence > MAX_UNKNOWN_FRAMES and not starting:
            faults.append('%.2f s: %.1f ms of sound that is not the song' % (seconds, gap * 1000.0 / RATE))
            continue
        if moved != 0 and not starting:
            stalls.append('%.2f s: the device path %s %.1f ms' % (
                seconds, 'dropped' if moved > 0 else 'stalled for', abs(moved) * 1000.0 / RATE))
            recent_stalls.append((e1, abs(moved)))
            drift += moved
    return faults, stalls, drift


def main():
    if len(sys.argv) != 4:
        print(__doc__)
        return 2
    heard = open(sys.argv[1], 'rb').read()
    heard = heard[:len(heard) - len(heard) % FRAME]
    render = wav_pcm(sys.argv[2])
    wall = int(sys.argv[3]) / 1000.0
    music = Music(heard, render)

    recorded = len(heard) / FRAME / RATE
    print('recorded %.2f s of sound in %.2f s by the clock' % (recorded, wall))
    host_problems = []
    # The sink clocks itself in real time: a recording much shorter than the clock means the host stalled.
    if recorded > wall + 0.5 or recorded < wall * 0.8 - 1.0:
        host_problems.append('the sound server did not run in real time')

    start = first_sound(heard)
    if start < 0:
        print('the recording is silent')
        return 1
    frames = last_sound(heard) - start + 1
    print('music heard for %.2f s, from %.2f s into the recording' % (frames / RATE, start / RATE))
    if frames / RATE < MIN_MUSIC_SECONDS:
        print('only %.2f s of music (at least %.1f s expected)' % (frames / RATE, MIN_MUSIC_SECONDS))
        return 1

    found, pieces = anchors(music, start, frames)
    if not found:
        print('nothing heard is in the render')
        return 1
    faults, stalls, drift = classify(music, start, found)
    # Pieces found where the music was: the first, and each at the place of the one before.
    exact = sum(1 for i, (_, shift) in enumerate(found) if i == 0 or found[i - 1][1] == shift)
    print('%d of %d pieces of 20 ms are the render frame for frame' % (exact, pieces))
    for text in stalls:
        print('host: ' + text)
    if stalls:
        print('%d stalls of the host after the start, moving the music %.3f s in all' % (len(stalls), drift / RATE))
    if faults:
        for text in faults:
            print('FAULT: ' + text)
        print('%d faults of the intro\'s streaming' % len(faults))
        return 1
    if exact < MIN_EXACT_SHARE * pieces:
        host_problems.append('only %d of %d pieces are exact' % (exact, pieces))
    if abs(drift) > STARTUP_SECONDS * RATE:
        host_problems.append('the host moved the music %.3f s from the clock' % (drift / RATE))
    if host_problems:
        print('no fault of the intro was heard, but the host stalled too much to judge the run: '
              + '; '.join(host_problems))
        return SKIP
    return 0


if __name__ == '__main__':
    sys.exit(main())
