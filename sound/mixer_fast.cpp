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
// - Gains and the sample's loop are read once per run rather than per frame. The AVX-512 loop mixes eight
//   frames per iteration with vectors of eight doubles, the AVX2 loop four with vectors of four, the portable
//   loop two frames per iteration in plain C++; the best the processor has is chosen at start-up
//   (SndMixKernel).
//
// Runs on one thread at a time, like the reference (see sound.h).
#include "sound/sound.h"

// GCC 12's AVX-512 intrinsics start their results from a deliberately undefined vector, which its
// -Wmaybe-uninitialized reports inside the header; nothing uninitialised is read. (Clang, for the fuzz build,
// does not know that warning: the first two lines keep each compiler quiet about the other's option.)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpragmas"
#pragma GCC diagnostic ignored "-Wunknown-warning-option"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace {

constexpr float Inv255 = 1.0f / 255.0f;
constexpr double FractionUnit = 1.0 / 2147483648.0;
constexpr uint64_t FarDistanceFrames = uint64_t{1} << 24;

// The gain of a side over one run: applied at frame 0 (start) and added per frame (step, 0 without ramp).
struct RunGains {
    double startLeft;
    double startRight;
    double stepLeft;
    double stepRight;
};

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
// portable loop applies fixed gains; the AVX2 loop fixed gains or, with Ramp, the gains start + n x step.

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

// Four frames per iteration. The frames are read with plain loads (each frame and the next as one 32-bit
// value: the two 16-bit samples side by side), which beats a gather here; the halved fractions are kept in a
// vector of four 32-bit values of their own, as the low 32 bits of q + n x e depend only on those of q and e.
// Interpolation and the gains in double precision, as in the reference; the mix buffer's floats are widened,
// added to and rounded back one by one.
template <bool Ramp>
__attribute__((target("avx2"))) void MixFramesAvx2(const int16_t* data, uint64_t q, uint64_t e, float* out,
                                                     int32_t count, const RunGains& g, int32_t first = 0)
{
    const __m256d unit = _mm256_set1_pd(FractionUnit);
    const __m256d start = _mm256_setr_pd(g.startLeft, g.startRight, g.startLeft, g.startRight);
    const __m256d step = _mm256_setr_pd(g.stepLeft, g.stepRight, g.stepLeft, g.stepRight);
    const __m256d four = _mm256_set1_pd(4.0);
    const uint64_t e2 = 2 * e;
    const uint64_t e3 = 3 * e;
    const uint64_t e4 = 4 * e;
    const uint32_t fractionStep = static_cast<uint32_t>(e);
    const __m128i fractionAdvance = _mm_set1_epi32(static_cast<int32_t>(4 * fractionStep));
    __m128i fractions = _mm_setr_epi32(static_cast<int32_t>(static_cast<uint32_t>(q)),
                                       static_cast<int32_t>(static_cast<uint32_t>(q) + fractionStep),
                                       static_cast<int32_t>(static_cast<uint32_t>(q) + 2 * fractionStep),
                                       static_cast<int32_t>(static_cast<uint32_t>(q) + 3 * fractionStep));
    // The ramp's frame numbers, counted from the run's first frame (`first` frames before `out`).
    const double base = static_cast<double>(first);
    __m256d frameLow = _mm256_setr_pd(base, base, base + 1.0, base + 1.0);
    __m256d frameHigh = _mm256_setr_pd(base + 2.0, base + 2.0, base + 3.0, base + 3.0);

    int32_t f = 0;
    for (; f + 4 <= count; f += 4) {
        // The integer part as a signed 32-bit index: the high half of the raw position, shifted arithmetically.
        uint64_t q1 = q + e;
        uint64_t q2 = q + e2;
        uint64_t q3 = q + e3;
        int32_t pair0;
        int32_t pair1;
        int32_t pair2;
        int32_t pair3;
        std::memcpy(&pair0, data + (static_cast<int64_t>(q) >> 32), sizeof pair0);
        std::memcpy(&pair1, data + (static_cast<int64_t>(q1) >> 32), sizeof pair1);
        std::memcpy(&pair2, data + (static_cast<int64_t>(q2) >> 32), sizeof pair2);
        std::memcpy(&pair3, data + (static_cast<int64_t>(q3) >> 32), sizeof pair3);
        q += e4;
        __m128i pairs = _mm_insert_epi32(
            _mm_insert_epi32(_mm_insert_epi32(_mm_cvtsi32_si128(pair0), pair1, 1), pair2, 2), pair3, 3);
        // Little-endian: the frame in the low half, the next frame in the high half.
        __m256d s0 = _mm256_cvtepi32_pd(_mm_srai_epi32(_mm_slli_epi32(pairs, 16), 16));
        __m256d s1 = _mm256_cvtepi32_pd(_mm_srai_epi32(pairs, 16));
        __m256d t = _mm256_mul_pd(_mm256_cvtepi32_pd(_mm_srli_epi32(fractions, 1)), unit);
        fractions = _mm_add_epi32(fractions, fractionAdvance);
        __m256d x = _mm256_add_pd(s0, _mm256_mul_pd(_mm256_sub_pd(s1, s0), t));

        __m256d xLow = _mm256_permute4x64_pd(x, 0x50);   // x0 x0 x1 x1: frames 0 and 1, left and right
        __m256d xHigh = _mm256_permute4x64_pd(x, 0xFA);  // x2 x2 x3 x3
        __m256d gainLow = start;
        __m256d gainHigh = start;
        if constexpr (Ramp) {
            gainLow = _mm256_add_pd(start, _mm256_mul_pd(frameLow, step));
            gainHigh = _mm256_add_pd(start, _mm256_mul_pd(frameHigh, step));
            frameLow = _mm256_add_pd(frameLow, four);
            frameHigh = _mm256_add_pd(frameHigh, four);
        }
        float* o = out + 2 * f;
        __m256d mixLow = _mm256_cvtps_pd(_mm_loadu_ps(o));
        __m256d mixHigh = _mm256_cvtps_pd(_mm_loadu_ps(o + 4));
        mixLow = _mm256_add_pd(mixLow, _mm256_mul_pd(xLow, gainLow));
        mixHigh = _mm256_add_pd(mixHigh, _mm256_mul_pd(xHigh, gainHigh));
        _mm_storeu_ps(o, _mm256_cvtpd_ps(mixLow));
        _mm_storeu_ps(o + 4, _mm256_cvtpd_ps(mixHigh));
    }
    for (; f < count; f++) {
        double left = g.startLeft;
        double right = g.startRight;
        if constexpr (Ramp) {
            double n = static_cast<double>(first + f);
            left = g.startLeft + n * g.stepLeft;
            right = g.startRight + n * g.stepRight;
        }
        AddFrame(out + 2 * f, Interpolate(data, q), left, right);
        q += e;
    }
}

// Eight frames per iteration with vectors of eight doubles, otherwise as the AVX2 loop, which mixes what is
// left after the last whole group of eight.
template <bool Ramp>
__attribute__((target("avx512f"))) void MixFramesAvx512(const int16_t* data, uint64_t q, uint64_t e, float* out,
                                                         int32_t count, const RunGains& g)
{
    const __m512d unit = _mm512_set1_pd(FractionUnit);
    const __m512d start = _mm512_setr_pd(g.startLeft, g.startRight, g.startLeft, g.startRight, g.startLeft,
                                         g.startRight, g.startLeft, g.startRight);
    const __m512d step = _mm512_setr_pd(g.stepLeft, g.stepRight, g.stepLeft, g.stepRight, g.stepLeft,
                                        g.stepRight, g.stepLeft, g.stepRight);
    const __m512d eight = _mm512_set1_pd(8.0);
    const __m512i duplicateLow = _mm512_setr_epi64(0, 0, 1, 1, 2, 2, 3, 3);
    const __m512i duplicateHigh = _mm512_setr_epi64(4, 4, 5, 5, 6, 6, 7, 7);
    const uint32_t fractionStep = static_cast<uint32_t>(e);
    const uint32_t fraction0 = static_cast<uint32_t>(q);
    const __m256i fractionAdvance = _mm256_set1_epi32(static_cast<int32_t>(8 * fractionStep));
    __m256i fractions = _mm256_setr_epi32(
        static_cast<int32_t>(fraction0), static_cast<int32_t>(fraction0 + fractionStep),
        static_cast<int32_t>(fraction0 + 2 * fractionStep), static_cast<int32_t>(fraction0 + 3 * fractionStep),
        static_cast<int32_t>(fraction0 + 4 * fractionStep), static_cast<int32_t>(fraction0 + 5 * fractionStep),
        static_cast<int32_t>(fraction0 + 6 * fractionStep), static_cast<int32_t>(fraction0 + 7 * fractionStep));
    __m512d frameLow = _mm512_setr_pd(0.0, 0.0, 1.0, 1.0, 2.0, 2.0, 3.0, 3.0);
    __m512d frameHigh = _mm512_setr_pd(4.0, 4.0, 5.0, 5.0, 6.0, 6.0, 7.0, 7.0);

    int32_t f = 0;
    for (; f + 8 <= count; f += 8) {
        int32_t pair[8];
        for (int n = 0; n < 8; n++) {
            std::memcpy(&pair[n], data + (static_cast<int64_t>(q + static_cast<uint64_t>(n) * e) >> 32),
                        sizeof pair[n]);
        }
        q += 8 * e;
        __m128i low = _mm_insert_epi32(
            _mm_insert_epi32(_mm_insert_epi32(_mm_cvtsi32_si128(pair[0]), pair[1], 1), pair[2], 2), pair[3], 3);
        __m128i high = _mm_insert_epi32(
            _mm_insert_epi32(_mm_insert_epi32(_mm_cvtsi32_si128(pair[4]), pair[5], 1), pair[6], 2), pair[7], 3);
        __m256i pairs = _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
        __m512d s0 = _mm512_cvtepi32_pd(_mm256_srai_epi32(_mm256_slli_epi32(pairs, 16), 16));
        __m512d s1 = _mm512_cvtepi32_pd(_mm256_srai_epi32(pairs, 16));
        __m512d t = _mm512_mul_pd(_mm512_cvtepi32_pd(_mm256_srli_epi32(fractions, 1)), unit);
        fractions = _mm256_add_epi32(fractions, fractionAdvance);
        __m512d x = _mm512_add_pd(s0, _mm512_mul_pd(_mm512_sub_pd(s1, s0), t));

        __m512d xLow = _mm512_permutexvar_pd(duplicateLow, x);    // frames 0..3, left and right
        __m512d xHigh = _mm512_permutexvar_pd(duplicateHigh, x);  // frames 4..7
        __m512d gainLow = start;
        __m512d gainHigh = start;
        if constexpr (Ramp) {
            gainLow = _mm512_add_pd(start, _mm512_mul_pd(frameLow, step));
            gainHigh = _mm512_add_pd(start, _mm512_mul_pd(frameHigh, step));
            frameLow = _mm512_add_pd(frameLow, eight);
            frameHigh = _mm512_add_pd(frameHigh, eight);
        }
        float* o = out + 2 * f;
        __m512d mixLow = _mm512_cvtps_pd(_mm256_loadu_ps(o));
        __m512d mixHigh = _mm512_cvtps_pd(_mm256_loadu_ps(o + 8));
        mixLow = _mm512_add_pd(mixLow, _mm512_mul_pd(xLow, gainLow));
        mixHigh = _mm512_add_pd(mixHigh, _mm512_mul_pd(xHigh, gainHigh));
        _mm256_storeu_ps(o, _mm512_cvtpd_ps(mixLow));
        _mm256_storeu_ps(o + 8, _mm512_cvtpd_ps(mixHigh));
    }
    if (f < count) {
        MixFramesAvx2<Ramp>(data, q, e, out + 2 * f, count - f, g, f);
    }
}

void ConvertPortable(int16_t* destination, const float* source, int64_t values)
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

// Clamping to -32768..32767 before rounding gives what rounding then clamping gives, as both limits are whole
// numbers; the maximum takes its second operand for a value that is not a number, which so becomes -32768 as
// in the reference. The conversion rounds to nearest with ties to even, as nearbyint does.
__attribute__((target("avx2"))) void ConvertAvx2(int16_t* destination, const float* source, int64_t values)
{
    const __m256 low = _mm256_set1_ps(-32768.0f);
    const __m256 high = _mm256_set1_ps(32767.0f);
    int64_t i = 0;
    for (; i + 16 <= values; i += 16) {
        __m256 a = _mm256_min_ps(_mm256_max_ps(_mm256_loadu_ps(source + i), low), high);
        __m256 b = _mm256_min_ps(_mm256_max_ps(_mm256_loadu_ps(source + i + 8), low), high);
        __m256i packed = _mm256_packs_epi32(_mm256_cvtps_epi32(a), _mm256_cvtps_epi32(b));
        // The pack interleaves the 128-bit halves of its two inputs: put the four groups back in order.
        packed = _mm256_permute4x64_epi64(packed, 0xD8);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(destination + i), packed);
    }
    ConvertPortable(destination + i, source + i, values - i);
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

template <SndKernel Kernel>
void MixFrames(const int16_t* data, uint64_t q, uint64_t e, float* out, int32_t count, const RunGains& g)
{
    if constexpr (Kernel == SndKernel::Avx512) {
        MixFramesAvx512<false>(data, q, e, out, count, g);
    } else if constexpr (Kernel == SndKernel::Avx2) {
        MixFramesAvx2<false>(data, q, e, out, count, g);
    } else {
        MixFramesPortable(data, q, e, out, count, g);
    }
}

// One voice into `frames` stereo frames at `out`, run after run, as the reference cuts them.
template <SndKernel Kernel>
void MixOneVoice(MixVoice& voice, float* out, int32_t frames)
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
            if (Kernel != SndKernel::Portable && RampSumsExact(gains.startLeft, gains.stepLeft, count) &&
                RampSumsExact(gains.startRight, gains.stepRight, count)) {
                if constexpr (Kernel == SndKernel::Avx512) {
                    MixFramesAvx512<true>(data, q, e, out, count, gains);
                } else {
                    MixFramesAvx2<true>(data, q, e, out, count, gains);
                }
                rampLeft = gains.startLeft + static_cast<double>(count) * gains.stepLeft;
                rampRight = gains.startRight + static_cast<double>(count) * gains.stepRight;
            } else {
                MixFramesRamped(data, q, e, out, count, gains, &rampLeft, &rampRight);
            }
        } else if (gainLeft != 0.0f || gainRight != 0.0f || startLeft != 0.0f || startRight != 0.0f) {
            // Fixed gains in pairs; an odd last frame takes the applied gains instead.
            int32_t paired = count & ~1;
            MixFrames<Kernel>(data, q, e, out, paired, RunGains{gainLeft, gainRight, 0.0, 0.0});
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

template <SndKernel Kernel>
void MixAllVoices(float* destination, int32_t frames)
{
    for (int32_t i = 0; i < MixedVoiceCount; i++) {
        if (MixVoices[i].sample != nullptr) {
            MixOneVoice<Kernel>(MixVoices[i], destination, frames);
        }
    }
}

}  // namespace

SndKernel SndBestKernel()
{
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx2")) {
        return SndKernel::Avx512;
    }
    return __builtin_cpu_supports("avx2") ? SndKernel::Avx2 : SndKernel::Portable;
}

SndKernel SndMixKernel = SndBestKernel();

void SndMixVoices(float* destination, int32_t frames)
{
    if (destination == nullptr || frames < 1) {
        return;
    }
    if (SndMixKernel == SndKernel::Avx512) {
        MixAllVoices<SndKernel::Avx512>(destination, frames);
    } else if (SndMixKernel == SndKernel::Avx2) {
        MixAllVoices<SndKernel::Avx2>(destination, frames);
    } else if (SndMixKernel == SndKernel::Portable) {
        MixAllVoices<SndKernel::Portable>(destination, frames);
    } else {
        SndMixVoicesReference(destination, frames);
    }
}

void SndConvertBlock(int16_t* destination, const float* source, int32_t frames)
{
    if (destination == nullptr || source == nullptr || frames <= 0) {
        return;
    }
    int64_t values = 2 * static_cast<int64_t>(frames);
    if (SndMixKernel == SndKernel::Avx2 || SndMixKernel == SndKernel::Avx512) {
        ConvertAvx2(destination, source, values);
    } else if (SndMixKernel == SndKernel::Portable) {
        ConvertPortable(destination, source, values);
    } else {
        SndConvertBlockReference(destination, source, frames);
    }
}
