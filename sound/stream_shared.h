// What block streaming (stream.cpp) and rendering without a device (render.cpp) share, so that a render
// gives the very blocks the device is fed: one start of a song and one way of mixing a block. Used inside
// sound/ only.
#pragma once

#include "sound/sound.h"

#include <cstdint>

// Sets OutputRate and the timing values that follow from it (block, ring and ramp lengths). Main thread,
// while no song streams.
void SndSetOutputTiming(int32_t rate);
// Puts the song at its start as a play begins: position, speed and global volume reset, onStart called, the
// default tempo set, every voice silent and the song's tracks zero-filled and linked to voices 0, 1, ...
void SndResetPlayback(Song* song);
// Mixes the song's next BlockFrames frames: clears `block` (2 x BlockFrames floats), mixes into it in pieces
// cut at tick boundaries (calling onTick there and advancing elapsedMs) and converts it into `out`
// (2 x BlockFrames 16-bit samples).
void SndMixSongBlock(Song* song, float* block, int16_t* out);
// True while the device is open (from SndInit to SndClose) or a song streams: a render must not start then,
// since it would rewrite the timing values the device plays at and the voices the stream mixes.
bool SndOutputInUse();
// True while a render runs (from SndRenderStart to SndRenderStop): the output must not open and no song may
// start then, since both would take over the render's voices, tracks and timing values.
bool SndRenderRunning();
