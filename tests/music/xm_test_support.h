// Modules for the loader's tests, loaded straight from bytes in memory (tests/support/memory_song.h).
#pragma once

#include "music/music.h"
#include "tests/support/memory_song.h"
#include "tools/xmwriter/xmwriter.h"

#include <cstdint>
#include <utility>
#include <vector>

// A valid module of 4 tracks with one empty 64-row pattern, played once, and no instruments.
inline XmModule MinimalModule()
{
    XmModule module;
    module.channelCount = 4;
    module.orders = {0};
    module.patterns.push_back(XmMakePattern(64, 4));
    return module;
}

// An 8-bit sample with the given PCM and no loop.
inline XmSample PcmSample8(std::vector<int16_t> pcm)
{
    XmSample sample;
    sample.bits = 8;
    sample.pcm = std::move(pcm);
    return sample;
}

inline XmSample PcmSample16(std::vector<int16_t> pcm)
{
    XmSample sample;
    sample.bits = 16;
    sample.pcm = std::move(pcm);
    return sample;
}

inline XmInstrument InstrumentWith(std::vector<XmSample> samples)
{
    XmInstrument instrument;
    instrument.samples = std::move(samples);
    return instrument;
}

// A ramp of distinct frames, so any misplaced frame shows.
inline std::vector<int16_t> Ramp(int count, int step, int first = 0)
{
    std::vector<int16_t> frames;
    for (int k = 0; k < count; ++k)
        frames.push_back(static_cast<int16_t>(first + k * step));
    return frames;
}
