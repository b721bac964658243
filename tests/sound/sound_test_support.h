// Hand-built samples and voices for the sound tests. A sample is laid out as the loader lays it out: one
// leading guard frame at data[-1], then length + 9 frames, with the trailing guard frame at E.
#pragma once

#include "sound/sound.h"

#include <cstdint>
#include <vector>

struct TestSample {
    std::vector<int16_t> storage;
    Sample sample{};

    // frames: the sound; loopMode LoopNone, LoopForward or LoopPingPong (loop values ignored without loop).
    TestSample(const std::vector<int16_t>& frames, uint8_t loopMode, uint32_t loopStart = 0, uint32_t loopLength = 0)
    {
        uint32_t length = static_cast<uint32_t>(frames.size());
        storage.assign(1 + length + 9, 0);
        for (uint32_t i = 0; i < length; i++) {
            storage[1 + i] = frames[i];
        }
        sample.data = storage.data() + 1;
        sample.length = length;
        sample.loopMode = loopMode;
        sample.bits = 16;
        if (loopMode == LoopNone) {
            sample.loopStart = 0;
            sample.loopLength = length;
        } else {
            sample.loopStart = loopStart;
            sample.loopLength = loopLength;
        }
        uint32_t end = sample.loopStart + sample.loopLength;
        if (loopMode == LoopForward) {
            sample.data[end] = sample.data[sample.loopStart];
        } else if (loopMode == LoopPingPong) {
            sample.data[end] = sample.data[end - 1];
        }
        if (length > 0) {
            sample.data[-1] = sample.data[0];
        }
    }
    TestSample(const TestSample&) = delete;
    TestSample& operator=(const TestSample&) = delete;

    // The frame at a (possibly negative) index, as the allocation holds it.
    int16_t At(int64_t index) const { return storage[static_cast<size_t>(index + 1)]; }
};

// A voice playing `sample` from `positionRaw` (32.32) at `stepRaw` (32.32), with its gains already at the
// targets (no ramp pending).
inline void SetSteadyVoice(MixVoice& voice, Sample* sample, uint64_t positionRaw, uint64_t stepRaw, int32_t volumeLeft,
                           int32_t volumeRight)
{
    int32_t slot = voice.slot;
    voice = MixVoice{};
    voice.slot = slot;
    voice.sample = sample;
    voice.positionInt = static_cast<uint32_t>(positionRaw >> 32);
    voice.positionFrac = static_cast<uint32_t>(positionRaw);
    voice.speedInt = static_cast<uint32_t>(stepRaw >> 32);
    voice.speedFrac = static_cast<uint32_t>(stepRaw);
    voice.direction = DirForward;
    voice.volumeLeft = volumeLeft;
    voice.volumeRight = volumeRight;
    voice.seenVolumeLeft = volumeLeft;
    voice.seenVolumeRight = volumeRight;
    voice.currentVolumeLeft = volumeLeft * 256;
    voice.currentVolumeRight = volumeRight * 256;
}

inline uint64_t Raw(double frames)
{
    return static_cast<uint64_t>(frames * 4294967296.0);
}

inline uint64_t VoicePosition(const MixVoice& voice)
{
    return (uint64_t{voice.positionInt} << 32) | voice.positionFrac;
}
