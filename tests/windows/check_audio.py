#!/usr/bin/env python3
"""Compares what the null sink heard while the intro ran with the offline render of the song.

The sink plays in real time, so a recording that holds one unbroken stretch of the render, frame for frame,
shows that the streaming thread kept every block ahead of the device (a late block would be heard as a
repeat of the ring's old contents, an early one would cut the song) and that the song plays as it mixes.

Usage: check_audio.py HEARD.raw RENDER.wav WALL-MILLISECONDS
HEARD.raw is 16-bit little-endian stereo at 44100 Hz; RENDER.wav the render from the song's first frame;
WALL-MILLISECONDS how long the recording ran by the clock. Exit 0 when the music is right; 1 otherwise."""
import sys

RATE = 44100
FRAME = 4
MIN_MUSIC_SECONDS = 6.0
# The first second of music, in which the device path may still drop sound as its stream starts.
STARTUP_SECONDS = 1.0
# How far (half a second) one stall or drop of the device path may move the music: a block mixed late
# replays the ring of one turn (2 s) before, well outside.
GLITCH_FRAMES = 22050
# Digital silence of 2 ms within a piece: the sound server ran out of data there.
GAP_FRAMES = 88
# Share of pieces that must be exact even on a busy machine.
MIN_EXACT_SHARE = 0.9


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


def main():
    if len(sys.argv) != 4:
        print(__doc__)
        return 2
    heard = open(sys.argv[1], 'rb').read()
    heard = heard[:len(heard) - len(heard) % FRAME]
    render = wav_pcm(sys.argv[2])
    wall = int(sys.argv[3]) / 1000.0
    problems = []

    recorded = len(heard) / FRAME / RATE
    print('recorded %.2f s of sound in %.2f s by the clock' % (recorded, wall))
    # The sink clocks itself in real time: a device that ran fast or stalled would show here.
    if recorded > wall + 0.5 or recorded < wall * 0.8 - 1.0:
        problems.append('the sound device did not run in real time')

    start = first_sound(heard)
    render_start = first_sound(render)
    if start < 0:
        print('the recording is silent')
        return 1
    end = last_sound(heard)
    frames = end - start + 1
    music = frames / RATE
    print('music heard for %.2f s, from %.2f s into the recording' % (music, start / RATE))
    if music < MIN_MUSIC_SECONDS:
        problems.append('only %.2f s of music (at least %.1f s expected)' % (music, MIN_MUSIC_SECONDS))
    if render_start + frames > len(render) // FRAME:
        problems.append('the render is shorter than the music heard')
        frames = len(render) // FRAME - render_start

    # Piece by piece (20 ms), where each piece sits in the render. A streaming thread that kept up gives one
    # offset throughout: every piece is the render, frame for frame, in order. A block mixed late would be
    # heard as the ring's contents of one turn (2 s) earlier, a block not mixed as sound that is nowhere in
    # the render: both are pieces found nowhere near their place. The device path itself (Wine's driver
    # into the sound server) may stall for a few milliseconds on a busy machine: the server then plays a
    # short silence and the music goes on a little later, or Wine drops what it could not hand over in
    # time. Such a glitch moves the offset by far less than a ring turn; the pieces that straddle it match
    # nowhere and are excused. While the stream starts (its first second) the device path may lose more.
    piece = 882
    shift = None          # render frame = heard frame + shift
    status = []           # per piece: 'ok', 'moved' or 'lost'
    lost_at = []          # seconds into the music of the pieces not excused
    moves = []            # (seconds into the music, frames moved)
    for offset in range(0, frames - piece + 1, piece):
        at = start + offset
        chunk = heard[at * FRAME:(at + piece) * FRAME]
        if shift is not None and render[(at + shift) * FRAME:(at + shift + piece) * FRAME] == chunk:
            status.append('ok')
            continue
        starting = offset < STARTUP_SECONDS * RATE
        if shift is None or starting:
            window_from, window_to = 0, len(render) // FRAME
        else:
            window_from = max(0, at + shift - GLITCH_FRAMES)
            window_to = min(len(render) // FRAME, at + shift + GLITCH_FRAMES + piece)
        place = render.find(chunk, window_from * FRAME, window_to * FRAME)
        while place >= 0 and place % FRAME != 0:
            place = render.find(chunk, place + 1, window_to * FRAME)
        if place < 0:
            status.append('ok' if starting else 'lost')
            continue
        new_shift = place // FRAME - at
        if shift is not None and not starting:
            moves.append((offset / RATE, new_shift - shift))
            status.append('moved')
        else:
            status.append('ok')
        shift = new_shift
    # Runs of pieces found nowhere: a run with at most 100 ms of sound in it is a glitch when the music moved
    # right after or before it, or when it holds the server's silence. The silence of a stall may last
    # longer (the song never has digital silence where the render has sound, and the drift below bounds
    # the stalls).
    silence = b'\0' * (FRAME * GAP_FRAMES)
    i = 0
    while i < len(status):
        if status[i] != 'lost':
            i += 1
            continue
        j = i
        while j < len(status) and status[j] == 'lost':
            j += 1
        run = heard[(start + i * piece) * FRAME:(start + j * piece) * FRAME]
        beside_move = (j < len(status) and status[j] == 'moved') or (i > 0 and status[i - 1] == 'moved')
        # Pieces of the run with sound in them; a stall's silence fills the others.
        sounding = sum(1 for k in range(j - i) if run[k * piece * FRAME:(k + 1) * piece * FRAME].strip(b'\0'))
        if sounding > 5 or not (beside_move or silence in run):
            lost_at.extend(k * piece / RATE for k in range(i, j))
        i = j
    pieces = max(1, len(status))
    exact = sum(1 for state in status if state == 'ok')
    print('%d of %d pieces of 20 ms are the render frame for frame' % (exact, pieces))
    for when, frames_moved in moves:
        print('the device path %s %.1f ms at %.2f s of music'
              % ('dropped' if frames_moved > 0 else 'stalled for', abs(frames_moved) * 1000.0 / RATE, when))
    drift = sum(frames_moved for _, frames_moved in moves) / RATE
    if moves:
        print('%d glitches of the device path after its start, %.3f s in all' % (len(moves), drift))
    if lost_at:
        problems.append('%d pieces of the music heard are not the song, at %s s'
                        % (len(lost_at), ', '.join('%.2f' % t for t in lost_at[:10])))
    if shift is None:
        problems.append('nothing heard is in the render')
    if exact < MIN_EXACT_SHARE * pieces:
        problems.append('only %d of %d pieces are exact' % (exact, pieces))
    if abs(drift) > STARTUP_SECONDS:
        problems.append('the music drifted %.3f s from the clock' % drift)

    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
