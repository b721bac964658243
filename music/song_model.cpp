// The static records of the song model that outlive every song.
#include "music/music.h"

#include <cstdlib>

// All-zero stand-ins: no data, length 0, loopMode 0. Never released.
Instrument EmptyInstrument;
Sample EmptySample;

// One record per track, shared by whichever song plays (streaming thread while a song plays).
MusicChannel MusicChannels[MaxChannels];

ModAllocFn ModAllocZeroed = ModSystemAllocZeroed;

void* ModSystemAllocZeroed(size_t bytes)
{
    return std::calloc(1, bytes);
}
