// The mixer's fast path: the same runs, the same arithmetic in the same order and precision as the plainly
// written mixer (mixer.cpp), with less work per frame.
//
// - The positions a run reads follow from its first one: clearing the lowest fraction bit before every step
//   makes the n-th position of a run q + n x e, where q is the first position and e the step, both with that
//   bit cleared (the bit is not part of the interpolation weight, and adding it never carries). The position
//   after the run is q + count x e plus the step's lowest bit. So the frame loops carry no position state, and
//   several frames can be computed side by side.
// - The ramp gains, added frame after frame in double precision, are exact sums: both start and step are
//   single-precision values, and as long as every partial sum stays within 53 bits of their smallest unit, the
//   gain of frame n equals start + n x step computed directly. Each run checks that (it always holds for the
//   volumes a song sets) and otherwise adds frame after frame as the reference does.
// - A voice whose targets and applied gains are all 0, with no ramp running, adds only zeros: its runs skip
//   the arithmetic and advance the position, direction, loop turns and end exactly as the frames would.
// - Gains and the sample's loop are read once per run rather than per frame. The portable loop mixes two
//   frames per iteration in plain C++; a build for a processor with vector units adds its own loops beside it
//   (mixer_x86.cpp: AVX2 and AVX-512), and the best the processor has is chosen at start-up (SndMixKernel).
//
// Runs on one thread at a time, like the reference (see sound.h).
#include "sound/mixer_kernels.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace {

constexpr float Inv255 = 1.0f / 255.0f;
constexpr uint64_t FarDistanceFrames = uint64_t{1} << 24;

float RampStep(int32_t d)
{
    return static_cast<float>(static_cast<double>(d) * static_cast<double>(Inv255) *
                              static_cast<double>(RampFramesReciprocal));
}

int32_t GainToVolume(double gain)
{
    double volume = std::nearbyint(gain * 255.0 * 256.0);
    if (!(volume > std::numeric_limits<int32_t>::min())) {
        return std::numeric_limits<int32_t>::min();
    }
    if (volume > std::numeric_limits<int32_t>::max()) {
        return std::numeric_limits<int32_t>::max();
    }
    return static_cast<int32_t>(volume);
}

// Whether start + n x step is exact in double for every n in 0..count, so that it equals the frame-by-frame
// sum. Both are single-precision values and so whole multiples of 2^m, m their smaller unit; every such sum is
// a multiple of 2^m too, and exact while below 2^(m + 53) in size. Half that limit covers the rounding of the
// bound's own arithmetic. Not-a-number or infinite values fail the comparison.
bool RampSumsExact(double start, double step, int32_t count)
{
    if (step == 0.0) {
        return true;
    }
    int unit = std::ilogb(step) - 23;
    if (start != 0.0) {
        int startUnit = std::ilogb(start) - 23;
        unit = startUnit < unit ? startUnit : unit;
    }
    double bound = std::fabs(start) + static_cast<double>(count) * std::fabs(step);
    return bound < std::ldexp(1.0, unit + 52);
}

// ---- Frame loops -------------------------------------------------------------------------------------------
// Each adds `count` frames of a sample into `out`, frame n read at q + n x e (raw 32.32, wrapping). The
// portable loop applies fixed gains; a ramp runs frame by frame unless a vector loop takes it.

void MixFramesPortable(const int16_t* data, uint64_t q, uint64_t e, float* out, int32_t count, const RunGains& g)
{
    int32_t f = 0;
    for (; f + 1 < count; f += 2) {
        double x0 = Interpolate(data, q);
        double x1 = Interpolate(data, q + e);
        AddFrame(out + 2 * f, x0, g.startLeft, g.startRight);
        AddFrame(out + 2 * f + 2, x1, g.startLeft, g.startRight);
        q += 2 * e;
    }
    if (f < count) {
        AddFrame(out + 2 * f, Interpolate(data, q), g.startLeft, g.startRight);
    }
}

// A ramp frame by frame, adding the steps as the reference does, whether the sums are exact or not; the gains
// reached after the last frame go to *left and *right.
void MixFramesRamped(const int16_t* data, uint64_t q, uint64_t e, float* out, int32_t count, const RunGains& g,
                     double* left, double* right)
{
    double gainLeft = g.startLeft;
    double gainRight = g.startRight;
    for (int32_t f = 0; f < count; f++) {
        AddFrame(out + 2 * f, Interpolate(data, q), gainLeft, gainRight);
        gainLeft += g.stepLeft;
        gainRight += g.stepRight;
        q += e;
    }
    *left = gainLeft;
    *right = gainRight;
}

// ---- Voices ------------------------------------------------------------------------------------------------

uint64_t RawPosition(const MixVoice& voice)
{
    return (uint64_t{voice.positionInt} << 32) | voice.positionFrac;
}

void StorePosition(MixVoice& voice, uint64_t position)
{
    voice.positionInt = static_cast<uint32_t>(position >> 32);
    voice.positionFrac = static_cast<uint32_t>(position);
}

uint64_t Mirror(uint64_t position, uint32_t boundaryFrame)
{
    uint64_t boundary = uint64_t{boundaryFrame} << 32;
    return 2 * boundary - 1 - position;
}

// As in the reference: turns a voice at a boundary of its sample; false when the sound has ended.
bool TurnAtBoundary(MixVoice& voice, uint64_t position)
{
    const Sample& sample = *voice.sample;
    uint32_t loopStart = sample.loopStart;
    uint32_t end = sample.loopStart + sample.loopLength;
    bool canLoop = sample.data != nullptr && sample.loopLength != 0;

    if (canLoop && (sample.loopMode & LoopForward) != 0) {
        if (voice.positionInt >= sample.loopLength) {
            voice.positionInt -= sample.loopLength;
            if (voice.positionInt >= end) {
                voice.positionInt = loopStart + (voice.positionInt - loopStart) % sample.loopLength;
            }
        }
        return true;
    }
    if (canLoop && (sample.loopMode & LoopPingPong) != 0) {
        bool atEnd = voice.direction == DirForward;
        for (;;) {
            if (atEnd) {
                position = Mirror(position, end);
                voice.direction = DirBackward;
                if (static_cast<int32_t>(position >> 32) < static_cast<int32_t>(loopStart)) {
                    atEnd = false;
                    continue;
                }
            } else {
                position = Mirror(position, loopStart);
                voice.direction = DirForward;
                if (static_cast<int32_t>(position >> 32) >= static_cast<int32_t>(end)) {
                    atEnd = true;
                    continue;
                }
            }
            break;
        }
        StorePosition(voice, position);
        return true;
    }
    voice.sample = nullptr;
    voice.positionInt = 0;
    voice.positionFrac = 0;
    return false;
}

// One voice into `frames` stereo frames at `out`, run after run, as the reference cuts them, with the vector
// loops given (nullptr: the portable ones).
void MixOneVoice(MixVoice& voice, float* out, int32_t frames, const MixVectorLoops* vector)
{
    // Fixed while the voice is mixed: the sample and its loop, and the step.
    const Sample& sample = *voice.sample;
    const int16_t* data = sample.data;
    const uint32_t loopStart = sample.loopStart;
    const uint32_t end = sample.loopStart + sample.loopLength;
    const bool forwardLoop = (sample.loopMode & LoopForward) != 0;
    const uint64_t step = (uint64_t{voice.speedInt} << 32) | voice.speedFrac;
    const uint64_t stepUnits = step >> 8;

    int32_t remaining = frames;
    while (remaining > 0) {
        bool forward = voice.direction == DirForward;
        uint64_t position = RawPosition(voice);

        int32_t count = remaining;
        bool boundary = false;
        if (data == nullptr) {
            count = 0;
            boundary = true;
        } else {
            uint64_t distance = forward ? (uint64_t{end} << 32) - position : position - (uint64_t{loopStart} << 32);
            if ((distance >> 32) < FarDistanceFrames && stepUnits != 0) {
                uint64_t k = ((distance >> 8) + stepUnits - 1) / stepUnits;
                if (k == 0 && forward && forwardLoop && voice.positionInt < sample.loopLength) {
                    k = 1;
                }
                if (k <= static_cast<uint64_t>(count)) {
                    count = static_cast<int32_t>(k);
                    boundary = true;
                }
            }
        }

        int32_t ramp = 0;
        float stepLeft = 0.0f;
        float stepRight = 0.0f;
        if (voice.rampFramesLeft != 0 && voice.volumeLeft == voice.seenVolumeLeft &&
            voice.volumeRight == voice.seenVolumeRight) {
            ramp = voice.rampFramesLeft;
            stepLeft = voice.rampStepLeft;
            stepRight = voice.rampStepRight;
        } else {
            voice.seenVolumeLeft = voice.volumeLeft;
            int32_t dLeft = voice.volumeLeft - static_cast<int32_t>(static_cast<uint32_t>(voice.currentVolumeLeft) >> 8);
            if (dLeft != 0) {
                stepLeft = RampStep(dLeft);
                voice.rampStepLeft = stepLeft;
                ramp = RampFrames;
            }
            voice.seenVolumeRight = voice.volumeRight;
            int32_t dRight = voice.volumeRight - static_cast<int32_t>(static_cast<uint32_t>(voice.currentVolumeRight) >> 8);
            if (dRight != 0) {
                stepRight = RampStep(dRight);
                voice.rampStepRight = stepRight;
                ramp = RampFrames;
            }
            if (ramp != 0) {
                if (dLeft == 0) {
                    voice.rampStepLeft = 0.0f;
                }
                if (dRight == 0) {
                    voice.rampStepRight = 0.0f;
                }
            }
        }
        int32_t uncut = count;
        if (ramp > 0) {
            voice.rampFramesLeft = ramp;
            if (ramp < count) {
                count = ramp;
            }
        }

        float gainLeft = static_cast<float>(voice.volumeLeft) * Inv255;
        float gainRight = static_cast<float>(voice.volumeRight) * Inv255;
        float startLeft = static_cast<float>(voice.currentVolumeLeft) * (1.0f / 256.0f) * Inv255;
        float startRight = static_cast<float>(voice.currentVolumeRight) * (1.0f / 256.0f) * Inv255;
        uint64_t delta = forward ? step : uint64_t{0} - step;
        uint64_t q = position & ~uint64_t{1};
        uint64_t e = delta & ~uint64_t{1};
        double rampLeft = startLeft;
        double rampRight = startRight;

        if (ramp != 0) {
            RunGains gains{startLeft, startRight, stepLeft, stepRight};
            if (vector != nullptr && RampSumsExact(gains.startLeft, gains.stepLeft, count) &&
                RampSumsExact(gains.startRight, gains.stepRight, count)) {
                vector->rampGains(data, q, e, out, count, gains);
                rampLeft = gains.startLeft + static_cast<double>(count) * gains.stepLeft;
                rampRight = gains.startRight + static_cast<double>(count) * gains.stepRight;
            } else {
                MixFramesRamped(data, q, e, out, count, gains, &rampLeft, &rampRight);
            }
        } else if (gainLeft != 0.0f || gainRight != 0.0f || startLeft != 0.0f || startRight != 0.0f) {
            // Fixed gains in pairs; an odd last frame takes the applied gains instead.
            int32_t paired = count & ~1;
            RunGains gains{gainLeft, gainRight, 0.0, 0.0};
            if (vector != nullptr) {
                vector->fixedGains(data, q, e, out, paired, gains);
            } else {
                MixFramesPortable(data, q, e, out, paired, gains);
            }
            if (paired < count) {
                AddFrame(out + 2 * paired, Interpolate(data, q + static_cast<uint64_t>(paired) * e), startLeft,
                         startRight);
            }
        }
        // A silent voice adds nothing but still moves: only the position is carried forward.
        if (count > 0) {
            position = q + static_cast<uint64_t>(count) * e + (delta & 1);
        }

        if (ramp != 0) {
            voice.currentVolumeLeft = GainToVolume(rampLeft);
            voice.currentVolumeRight = GainToVolume(rampRight);
            voice.rampFramesLeft = ramp - count;
            if (voice.rampFramesLeft == 0) {
                voice.rampStepLeft = 0.0f;
                voice.rampStepRight = 0.0f;
                voice.currentVolumeLeft = voice.volumeLeft * 256;
                voice.currentVolumeRight = voice.volumeRight * 256;
                if (count < uncut) {
                    StorePosition(voice, position);
                    out += 2 * static_cast<ptrdiff_t>(count);
                    remaining -= count;
                    continue;
                }
            }
        }

        StorePosition(voice, position);
        if (!boundary) {
            return;
        }
        if (!TurnAtBoundary(voice, position)) {
            return;
        }
        out += 2 * static_cast<ptrdiff_t>(count);
        remaining -= count;
    }
}

// The vector loops of the kernel in use, or nullptr for the portable ones (also when the build or the
// processor lacks the kernel chosen).
const MixVectorLoops* LoopsInUse(MixVectorLoops* loops)
{
    return SndVectorLoops(SndMixKernel, loops) ? loops : nullptr;
}

}  // namespace

void SndConvertPortable(int16_t* destination, const float* source, int64_t values)
{
    for (int64_t i = 0; i < values; i++) {
        double rounded = std::nearbyint(static_cast<double>(source[i]));
        if (rounded >= 32767.0) {
            destination[i] = 32767;
        } else if (rounded > -32768.0) {
            destination[i] = static_cast<int16_t>(rounded);
        } else {
            destination[i] = -32768;
        }
    }
}

SndKernel SndMixKernel = SndBestKernel();

void SndMixVoices(float* destination, int32_t frames)
{
    if (destination == nullptr || frames < 1) {
        return;
    }
    if (SndMixKernel == SndKernel::Reference) {
        SndMixVoicesReference(destination, frames);
        return;
    }
    MixVectorLoops loops;
    const MixVectorLoops* vector = LoopsInUse(&loops);
    for (int32_t i = 0; i < MixedVoiceCount; i++) {
        if (MixVoices[i].sample != nullptr) {
            MixOneVoice(MixVoices[i], destination, frames, vector);
        }
    }
}

void SndConvertBlock(int16_t* destination, const float* source, int32_t frames)
{
    if (destination == nullptr || source == nullptr || frames <= 0) {
        return;
    }
    int64_t values = 2 * static_cast<int64_t>(frames);
    if (SndMixKernel == SndKernel::Reference) {
        SndConvertBlockReference(destination, source, frames);
        return;
    }
    MixVectorLoops loops;
    const MixVectorLoops* vector = LoopsInUse(&loops);
    if (vector != nullptr) {
        vector->convert(destination, source, values);
    } else {
        SndConvertPortable(destination, source, values);
    }
}
