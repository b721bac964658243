// The mixer's x86 vector loops and the choice among them at start-up: AVX2 mixes four frames per iteration
// with vectors of four doubles, AVX-512 eight with vectors of eight, in the same arithmetic, order and
// precision as the portable loops of mixer_fast.cpp. Built only for x86 processors (see CMakeLists.txt);
// elsewhere mixer_generic.cpp stands in its place.
#include "sound/mixer_kernels.h"

// GCC 12's AVX-512 intrinsics start their results from a deliberately undefined vector, which its
// -Wmaybe-uninitialized reports inside the header; nothing uninitialised is read. (Clang, for the fuzz build,
// does not know that warning: the first two lines keep each compiler quiet about the other's option.)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpragmas"
#pragma GCC diagnostic ignored "-Wunknown-warning-option"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop

#include <cstdint>
#include <cstring>

namespace {

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
    SndConvertPortable(destination + i, source + i, values - i);
}
// The loops in the common shape of MixFramesFn.
void FixedAvx2(const int16_t* data, uint64_t q, uint64_t e, float* out, int32_t count, const RunGains& g)
{
    MixFramesAvx2<false>(data, q, e, out, count, g);
}

void RampAvx2(const int16_t* data, uint64_t q, uint64_t e, float* out, int32_t count, const RunGains& g)
{
    MixFramesAvx2<true>(data, q, e, out, count, g);
}

void FixedAvx512(const int16_t* data, uint64_t q, uint64_t e, float* out, int32_t count, const RunGains& g)
{
    MixFramesAvx512<false>(data, q, e, out, count, g);
}

void RampAvx512(const int16_t* data, uint64_t q, uint64_t e, float* out, int32_t count, const RunGains& g)
{
    MixFramesAvx512<true>(data, q, e, out, count, g);
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

bool SndVectorLoops(SndKernel kernel, MixVectorLoops* loops)
{
    // A kernel the processor lacks would fault on its first instruction: it is never handed out.
    static const SndKernel best = SndBestKernel();
    if (static_cast<int32_t>(kernel) > static_cast<int32_t>(best)) {
        return false;
    }
    if (kernel == SndKernel::Avx512) {
        *loops = MixVectorLoops{FixedAvx512, RampAvx512, ConvertAvx2};
        return true;
    }
    if (kernel == SndKernel::Avx2) {
        *loops = MixVectorLoops{FixedAvx2, RampAvx2, ConvertAvx2};
        return true;
    }
    return false;
}
