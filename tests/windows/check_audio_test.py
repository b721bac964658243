#!/usr/bin/env python3
"""The music check of the Wine case (check_audio.py) against recordings made up from the song's render:
what a streaming thread that skips or repeats a block would have the device play, what a stalling host does
to the stream, and both together. Faults of the streaming must fail every time, however busy the host;
stalls of the host alone must never fail (a pass when small, a skip when large).

Usage: check_audio_test.py PATH-TO-XMRENDER SONG.xm"""
import os
import random
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_audio  # noqa: E402

FRAME = check_audio.FRAME
BLOCK = check_audio.BLOCK
RATE = check_audio.RATE
RENDER = b''
WORK = tempfile.mkdtemp()


def block(index):
    return RENDER[index * BLOCK * FRAME:(index + 1) * BLOCK * FRAME]


def ring_stream(blocks, fault=None, every=150, first=130):
    """The song as the device plays it from the ring, block by block. A fault of the streaming thread
    strikes at block `first` and every `every` blocks after:
      late:   the block is not mixed in time; the ring's old block (one turn, 100 blocks, before) plays and
              the song goes on with the next block;
      slot:   a ring slot is left out: its old block plays, and the song goes on one block later;
      repeat: the same block is mixed twice;
      skip:   a block of the song is never mixed."""
    out = []
    song = 0
    next_strike = first
    while len(out) < blocks:
        strikes = fault is not None and song >= next_strike
        if strikes:
            next_strike = song + every
        if strikes and fault == 'late':
            out.append(block(song - 100))
            song += 1
        elif strikes and fault == 'slot':
            out.append(block(song - 100))
            out.append(block(song))
            song += 1
        elif strikes and fault == 'repeat':
            out.append(block(song))
            out.append(block(song))
            song += 1
        elif strikes and fault == 'skip':
            song += 1
            out.append(block(song))
            song += 1
        else:
            out.append(block(song))
            song += 1
    return b''.join(out[:blocks])


def host(stream, rng, stalls, drops, longest_ms):
    """What a stalling host does to the stream: the sound server runs dry (digital silence, the music goes
    on later) or Wine drops what it could not hand over; anywhere, not at block boundaries."""
    frames = len(stream) // FRAME
    events = sorted([(rng.randrange(RATE, frames - RATE), 'stall') for _ in range(stalls)] +
                    [(rng.randrange(RATE, frames - RATE), 'drop') for _ in range(drops)])
    out = []
    at = 0
    for where, kind in events:
        if where < at:
            continue
        out.append(stream[at * FRAME:where * FRAME])
        length = rng.randrange(RATE * 3 // 1000, RATE * longest_ms // 1000)
        if kind == 'stall':
            out.append(b'\0' * (length * FRAME))
            at = where
        else:
            at = where + length
    out.append(stream[at * FRAME:])
    return b''.join(out)


def verdict(heard, wall_ms=None):
    """Exit code of check_audio.py for this recording (with half a second of silence before the music)."""
    heard = b'\0' * (RATE // 2 * FRAME) + heard + b'\0' * (RATE // 4 * FRAME)
    path = os.path.join(WORK, 'heard.raw')
    with open(path, 'wb') as out:
        out.write(heard)
    if wall_ms is None:
        wall_ms = len(heard) // FRAME * 1000 // RATE
    run = subprocess.run([sys.executable, os.path.join(os.path.dirname(os.path.abspath(__file__)), 'check_audio.py'),
                          path, os.path.join(WORK, 'render.wav'), str(wall_ms)],
                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    return run.returncode, run.stdout


SECONDS_OF_MUSIC = 12
BLOCKS = SECONDS_OF_MUSIC * RATE // BLOCK


class MusicCheck(unittest.TestCase):
    def assertVerdict(self, heard, expected, why):
        code, report = verdict(heard)
        self.assertEqual(code, expected, '%s\n%s' % (why, report))

    def test_the_song_as_rendered_passes(self):
        self.assertVerdict(ring_stream(BLOCKS), 0, 'the clean stream')

    def test_small_stalls_of_the_host_pass(self):
        for seed in range(3):
            rng = random.Random(seed)
            self.assertVerdict(host(ring_stream(BLOCKS), rng, 3, 3, 60), 0, 'seed %d' % seed)

    def test_a_host_that_stalls_a_lot_is_a_skip_never_a_failure(self):
        # As seen on a busy machine: dozens of stalls, the music seconds late against the clock.
        for seed in range(4):
            rng = random.Random(100 + seed)
            heard = host(ring_stream(BLOCKS), rng, 25, 12, 250)
            code, report = verdict(heard)
            self.assertEqual(code, check_audio.SKIP, 'seed %d\n%s' % (seed, report))
            self.assertIn('stalls of the host', report)

    def test_a_sound_server_far_slower_than_the_clock_is_a_skip(self):
        code, report = verdict(ring_stream(BLOCKS), wall_ms=(SECONDS_OF_MUSIC + 8) * 1000)
        self.assertEqual(code, check_audio.SKIP, report)

    def test_a_streaming_thread_that_skips_or_repeats_blocks_fails_every_time(self):
        for fault in ('late', 'slot', 'repeat', 'skip'):
            self.assertVerdict(ring_stream(BLOCKS, fault), 1, 'fault %s alone' % fault)
            for seed in range(6):
                rng = random.Random(1000 * seed + len(fault))
                heard = host(ring_stream(BLOCKS, fault), rng, 25, 12, 250)
                code, report = verdict(heard)
                self.assertEqual(code, 1, 'fault %s on a busy host, seed %d\n%s' % (fault, seed, report))
                self.assertIn('FAULT', report)

    def test_sound_that_is_not_the_song_fails(self):
        stream = bytearray(ring_stream(BLOCKS))
        noise = random.Random(7)
        at = 5 * RATE * FRAME
        stream[at:at + RATE // 2 * FRAME] = bytes(noise.getrandbits(8) for _ in range(RATE // 2 * FRAME))
        self.assertVerdict(bytes(stream), 1, 'half a second of noise')


def main():
    global RENDER
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    render_path = os.path.join(WORK, 'render.wav')
    subprocess.run([sys.argv[1], '--quiet', '--seconds', str(SECONDS_OF_MUSIC + 18), sys.argv[2], render_path],
                   check=True)
    RENDER = check_audio.wav_pcm(render_path)
    result = unittest.main(argv=[sys.argv[0], '-v'], exit=False).result
    return 0 if result.wasSuccessful() else 1


if __name__ == '__main__':
    sys.exit(main())
