// Inside the sound output: what the mixer's fast path (mixer_fast.cpp) shares with the processor-specific
// frame loops. Those live in a file of their own, chosen by the build: mixer_x86.cpp (AVX2 and AVX-512 with
// run-time selection) on x86, mixer_generic.cpp (the portable loops only) everywhere else, the browser's
// WebAssembly among them.
#pragma once

#include "sound/sound.h"

#include <cstdint>

constexpr double FractionUnit = 1.0 / 2147483648.0;

// The gain of a side over one run: applied at frame 0 (start) and added per frame (step, 0 without ramp).
struct RunGains {
    double startLeft;
    double startRight;
    double stepLeft;
    double stepRight;
};

// One interpolated frame at the raw position q (lowest bit irrelevant): frame index as signed 32 bits, so
// the leading guard frame serves a position a fraction before frame 0.
inline double Interpolate(const int16_t* data, uint64_t q)
{
    ptrdiff_t index = static_cast<int32_t>(static_cast<uint32_t>(q >> 32));
    double s0 = data[index];
    double s1 = data[index + 1];
    double t = static_cast<double>(static_cast<uint32_t>(q) >> 1) * FractionUnit;
    return s0 + (s1 - s0) * t;
}

inline void AddFrame(float* out, double x, double gainLeft, double gainRight)
{
    out[0] = static_cast<float>(static_cast<double>(out[0]) + x * gainLeft);
    out[1] = static_cast<float>(static_cast<double>(out[1]) + x * gainRight);
}

// A frame loop: adds `count` frames of a sample into `out`, frame n read at q + n x e (raw 32.32, wrapping),
// with the gains start + n x step (step 0 for fixed gains).
using MixFramesFn = void (*)(const int16_t* data, uint64_t q, uint64_t e, float* out, int32_t count,
                             const RunGains& g);
// Rounds `values` floats to nearest (ties to even), clamps them to 16 bits and stores them.
using ConvertFn = void (*)(int16_t* destination, const float* source, int64_t values);

// The vector loops of one fast path.
struct MixVectorLoops {
    MixFramesFn fixedGains;  // the run's gains do not change (step 0)
    MixFramesFn rampGains;   // a ramp whose sums start + n x step the caller has found exact
    ConvertFn convert;
};

// The loops of `kernel` (Avx2, Avx512) when this build has them and the processor runs them; false for
// the portable path, the reference, and every kernel the build or the processor lacks.
bool SndVectorLoops(SndKernel kernel, MixVectorLoops* loops);

// The portable conversion (mixer_fast.cpp); the vector conversions finish their last values with it.
void SndConvertPortable(int16_t* destination, const float* source, int64_t values);
