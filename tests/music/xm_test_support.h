// Loading modules straight from bytes in memory for the loader's tests: the open callback hands out a
// MemFile over a copy of the bytes, and the other four operations are the host's own MemFile callbacks.
#pragma once

#include "music/music.h"
#include "tools/xmwriter/xmwriter.h"

#include <cstdlib>
#include <cstring>
#include <vector>

inline std::vector<uint8_t>& XmTestSource()
{
    static std::vector<uint8_t> bytes;
    return bytes;
}

inline void* XmTestOpen(const char*)
{
    auto* file = static_cast<MemFile*>(std::calloc(1, sizeof(MemFile)));
    const std::vector<uint8_t>& bytes = XmTestSource();
    file->length = static_cast<int32_t>(bytes.size());
    file->data = static_cast<uint8_t*>(std::malloc(bytes.size() + 1));
    if (!bytes.empty())
        std::memcpy(file->data, bytes.data(), bytes.size());
    return file;
}

inline Song* LoadXmBytes(const std::vector<uint8_t>& bytes, SampleLoadCallback hook = nullptr)
{
    XmTestSource() = bytes;
    ModSetFileCallbacks(XmTestOpen, MemFileClose, MemFileRead, MemFileSeek, MemFileTell);
    return ModLoadSong("memory", hook);
}

inline Song* LoadXm(const XmModule& module, SampleLoadCallback hook = nullptr)
{
    return LoadXmBytes(XmWriteModule(module), hook);
}

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
