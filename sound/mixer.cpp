// The software mixer as plainly written: adds the voices into the float mix buffer, resampling each sample
// with linear interpolation, following its loop, and smoothing every gain change with a linear ramp; then
// converts a mixed block to 16-bit PCM. This is the reference that the fast path (mixer_fast.cpp) must match
// bit for bit; the streaming thread runs the fast one.
//
// Each voice's work is cut into runs that end exactly at the next loop or sample boundary, at the end of a
// ramp, or at the end of the span, so the frame loops never test for an end. The arithmetic is fixed to the
// bit: positions in unsigned 32.32, a frame's sums in double precision stored to float, gains as floats with
// the single-precision constant 1/255. Runs on one thread at a time (see sound.h).
#include "sound/sound.h"

#include <cmath>
#include <cstdint>
#include <limits>

MixVoice MixVoices[MixVoiceSlots];

// The single-precision value nearest 1/255: every gain is a volume times this constant.
static constexpr float Inv255 = 1.0f / 255.0f;
// Interpolation weight unit: the fraction is used as 31 bits.
static constexpr double FractionUnit = 1.0 / 2147483648.0;
// A distance whose integer part reaches this (frames) cannot be crossed within one run.
static constexpr uint64_t FarDistanceFrames = uint64_t{1} << 24;

static uint64_t RawPosition(const MixVoice& voice)
{
    return (uint64_t{voice.positionInt} << 32) | voice.positionFrac;
}

static void StorePosition(MixVoice& voice, uint64_t position)
{
    voice.positionInt = static_cast<uint32_t>(position >> 32);
    voice.positionFrac = static_cast<uint32_t>(position);
}

// A side's gain change per frame for a ramp over d volume steps: d x (1/255) x (1/RampFrames) rounded to a
// float. d x (1/255) is exact in double, and for every |d| <= 255 and every ramp length up to the highest
// output rate the double product rounds to the same float as the exact product.
static float RampStep(int32_t d)
{
    return static_cast<float>(static_cast<double>(d) * static_cast<double>(Inv255) *
                              static_cast<double>(RampFramesReciprocal));
}

// A gain (full scale 1) back to volume x 256, rounded to nearest with ties to even.
static int32_t GainToVolume(double gain)
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

// One frame of a sample at `position`, interpolated between the frame and the next. The integer part is
// read as a signed index, so a position a fraction before frame 0 reads the leading guard frame data[-1].
static double InterpolatedFrame(const int16_t* data, uint64_t position)
{
    ptrdiff_t index = static_cast<int32_t>(static_cast<uint32_t>(position >> 32));
    double s0 = data[index];
    double s1 = data[index + 1];
    double t = static_cast<double>(static_cast<uint32_t>(position) >> 1) * FractionUnit;
    return s0 + (s1 - s0) * t;
}

// Frames until a voice moving by `step` reaches or passes the boundary `distance` away, counted with 24
// fraction bits; false when no boundary is set in this run (too far, or a step below 2^-24).
static bool FramesToBoundary(uint64_t distance, uint64_t step, uint64_t* frames)
{
    if ((distance >> 32) >= FarDistanceFrames) {
        return false;
    }
    uint64_t stepUnits = step >> 8;
    if (stepUnits == 0) {
        return false;
    }
    *frames = ((distance >> 8) + stepUnits - 1) / stepUnits;
    return true;
}

// Mirrors a raw position at the boundary frame b: a position just past it maps just before it, one unit
// of 2^-32 short of its mirror image.
static uint64_t Mirror(uint64_t position, uint32_t boundaryFrame)
{
    uint64_t boundary = uint64_t{boundaryFrame} << 32;
    return 2 * boundary - 1 - position;
}

// Turns a voice that has reached a boundary of its sample. false when the sound has ended.
static bool TurnAtBoundary(MixVoice& voice, uint64_t position)
{
    const Sample& sample = *voice.sample;
    uint32_t loopStart = sample.loopStart;
    uint32_t end = sample.loopStart + sample.loopLength;
    // A sample with no frames, or a loop with none, cannot turn: its sound ends.
    bool canLoop = sample.data != nullptr && sample.loopLength != 0;

    if (canLoop && (sample.loopMode & LoopForward) != 0) {
        // A loop from frame 0 can end a run a fraction short of E with positionInt still below loopLength;
        // it is left as it is and the next run crosses E.
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

// Adds one voice into `frames` stereo frames at `out`, run after run.
static void MixOneVoice(MixVoice& voice, float* out, int32_t frames)
{
    int32_t remaining = frames;
    while (remaining > 0) {
        const Sample& sample = *voice.sample;
        uint32_t end = sample.loopStart + sample.loopLength;
        bool forward = voice.direction == DirForward;
        uint64_t step = (uint64_t{voice.speedInt} << 32) | voice.speedFrac;
        uint64_t position = RawPosition(voice);

        // The run ends at the span's end or at the boundary ahead, whichever comes first.
        int32_t count = remaining;
        bool boundary = false;
        uint64_t distance = forward ? (uint64_t{end} << 32) - position : position - (uint64_t{sample.loopStart} << 32);
        uint64_t k = 0;
        if (sample.data == nullptr) {
            // Nothing to read: the sound ends at once.
            count = 0;
            boundary = true;
        } else if (FramesToBoundary(distance, step, &k)) {
            // Less than 256 raw units short of E in a loop from frame 0: a count of 0 would leave the
            // position where it is for ever, so one frame is mixed to cross E.
            if (k == 0 && forward && (sample.loopMode & LoopForward) != 0 && voice.positionInt < sample.loopLength) {
                k = 1;
            }
            if (k <= static_cast<uint64_t>(count)) {
                count = static_cast<int32_t>(k);
                boundary = true;
            }
        }

        // Ramp set-up: a running ramp goes on while both targets stand; a changed target starts a new one.
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
            // A side that does not move in a new ramp must not keep the step of an older one: a later run
            // of this ramp would apply it and the gain would jump back at the end.
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

        // Mix the run.
        float gainLeft = static_cast<float>(voice.volumeLeft) * Inv255;
        float gainRight = static_cast<float>(voice.volumeRight) * Inv255;
        float startLeft = static_cast<float>(voice.currentVolumeLeft) * (1.0f / 256.0f) * Inv255;
        float startRight = static_cast<float>(voice.currentVolumeRight) * (1.0f / 256.0f) * Inv255;
        uint64_t delta = forward ? step : uint64_t{0} - step;
        double rampLeft = startLeft;
        double rampRight = startRight;
        for (int32_t f = 0; f < count; f++) {
            double x = InterpolatedFrame(sample.data, position);
            double left;
            double right;
            if (ramp != 0) {
                left = rampLeft;
                right = rampRight;
                rampLeft += stepLeft;
                rampRight += stepRight;
            } else if ((count & 1) != 0 && f == count - 1) {
                // Without a ramp frames go in pairs at the fixed gains; an odd last frame takes the current ones.
                left = startLeft;
                right = startRight;
            } else {
                left = gainLeft;
                right = gainRight;
            }
            out[2 * f] = static_cast<float>(static_cast<double>(out[2 * f]) + x * left);
            out[2 * f + 1] = static_cast<float>(static_cast<double>(out[2 * f + 1]) + x * right);
            position = (position & ~uint64_t{1}) + delta;
        }

        // Take over the gains the ramp reached.
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

        // The span's end, or a boundary.
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

void SndMixVoicesReference(float* destination, int32_t frames)
{
    if (destination == nullptr || frames < 1) {
        return;
    }
    for (int32_t i = 0; i < MixedVoiceCount; i++) {
        if (MixVoices[i].sample != nullptr) {
            MixOneVoice(MixVoices[i], destination, frames);
        }
    }
}

void SndConvertBlockReference(int16_t* destination, const float* source, int32_t frames)
{
    if (destination == nullptr || source == nullptr || frames <= 0) {
        return;
    }
    int64_t values = 2 * static_cast<int64_t>(frames);
    for (int64_t i = 0; i < values; i++) {
        double rounded = std::nearbyint(static_cast<double>(source[i]));
        if (rounded >= 32767.0) {
            destination[i] = 32767;
        } else if (rounded > -32768.0) {
            destination[i] = static_cast<int16_t>(rounded);
        } else {
            destination[i] = -32768;  // also a value that is not a number
        }
    }
}
