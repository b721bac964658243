// Mixer throughput in voice-frames per second (CPU time of one thread): looping voices at assorted pitches,
// forward and ping-pong, with fixed gains or with a ramp running on every frame, through the fast path and
// the reference; and the conversion of a block to 16-bit PCM.
#include "tests/support/song_support.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

constexpr int SpanFrames = 884;

struct BenchSample {
    std::vector<int16_t> storage;
    Sample sample{};
};

// A 20000-frame sample with a leading guard frame and 9 spare frames, looping forward or ping-pong over its
// last 19000 frames.
void MakeSample(BenchSample& s, uint8_t loopMode, uint32_t seed)
{
    const uint32_t length = 20000;
    s.storage.assign(1 + length + 9, 0);
    uint32_t x = seed;
    for (uint32_t i = 0; i < length; i++) {
        x = x * 1664525u + 1013904223u;
        s.storage[1 + i] = static_cast<int16_t>(x >> 16);
    }
    s.sample.data = s.storage.data() + 1;
    s.sample.length = length;
    s.sample.loopStart = 1000;
    s.sample.loopLength = length - 1000;
    s.sample.loopMode = loopMode;
    s.sample.bits = 16;
    uint32_t end = s.sample.loopStart + s.sample.loopLength;
    s.sample.data[end] = loopMode == LoopForward ? s.sample.data[s.sample.loopStart] : s.sample.data[end - 1];
    s.sample.data[-1] = s.sample.data[0];
}

void SetUpVoices(std::vector<BenchSample>& samples, int voices)
{
    RampFrames = 128;
    RampFramesReciprocal = 1.0f / 128.0f;
    ResetOutput(44100);
    for (int i = 0; i < voices; i++) {
        MixVoice& v = MixVoices[i];
        v.sample = &samples[static_cast<size_t>(i) % samples.size()].sample;
        v.direction = DirForward;
        v.positionInt = 1000 + static_cast<uint32_t>(i) * 97;
        // Steps from about 0.25 to 2.7 frames per output frame, as notes across several octaves.
        uint64_t step = (uint64_t{1} << 30) + static_cast<uint64_t>(i % 32) * (uint64_t{1} << 28) +
                        12345u * static_cast<uint64_t>(i);
        v.speedInt = static_cast<uint32_t>(step >> 32);
        v.speedFrac = static_cast<uint32_t>(step);
        v.volumeLeft = 40 + (i % 32) * 2;
        v.volumeRight = 100 - (i % 32);
        v.seenVolumeLeft = v.volumeLeft;
        v.seenVolumeRight = v.volumeRight;
        v.currentVolumeLeft = v.volumeLeft * 256;
        v.currentVolumeRight = v.volumeRight * 256;
    }
}

// Arguments: voices, loop (0 forward, 1 ping-pong), ramp (0 none, 1 on every frame), kernel (SndKernel: 0
// reference, 1 portable, 2 AVX2, 3 AVX-512; those the processor has).
// Without a ramp, block-sized spans at fixed gains. With one, every span is one ramp long and starts with new
// targets for every voice, so each frame mixed is a ramp frame.
void BM_SndMixVoices(benchmark::State& state)
{
    int voices = static_cast<int>(state.range(0));
    uint8_t loopMode = state.range(1) == 0 ? LoopForward : LoopPingPong;
    bool ramping = state.range(2) != 0;
    SndMixKernel = static_cast<SndKernel>(state.range(3));
    std::vector<BenchSample> samples(4);
    for (size_t i = 0; i < samples.size(); i++) {
        MakeSample(samples[i], loopMode, static_cast<uint32_t>(i + 1));
    }
    SetUpVoices(samples, voices);
    int span = ramping ? RampFrames : SpanFrames;
    std::vector<float> buffer(2 * static_cast<size_t>(span), 0.0f);
    int32_t volume = 0;
    for (auto _ : state) {
        if (ramping) {
            volume = (volume + 37) & 127;
            for (int i = 0; i < voices; i++) {
                MixVoices[i].volumeLeft = volume;
                MixVoices[i].volumeRight = 127 - volume;
            }
        }
        SndMixVoices(buffer.data(), span);
        benchmark::DoNotOptimize(buffer.data());
        benchmark::ClobberMemory();
    }
    state.counters["voice_frames_per_s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * voices * span, benchmark::Counter::kIsRate);
    SndMixKernel = SndBestKernel();
}

void MixArguments(benchmark::internal::Benchmark* b)
{
    b->ArgNames({"voices", "pingpong", "ramp", "kernel"});
    std::vector<int> kernels{static_cast<int>(SndKernel::Reference)};
    for (int k = static_cast<int>(SndKernel::Portable); k <= static_cast<int>(SndBestKernel()); k++) {
        kernels.push_back(k);
    }
    for (int kernel : kernels) {
        for (int ramp : {0, 1}) {
            for (int pingPong : {0, 1}) {
                for (int voices : {1, 8, 32, 64}) {
                    b->Args({voices, pingPong, ramp, kernel});
                }
            }
        }
    }
}
BENCHMARK(BM_SndMixVoices)->Apply(MixArguments);

// Silent looping voices (volume 0, no ramp), which the fast path only moves along: 64 of them.
void BM_SndMixVoicesSilent(benchmark::State& state)
{
    SndMixKernel = static_cast<SndKernel>(state.range(0));
    std::vector<BenchSample> samples(4);
    for (size_t i = 0; i < samples.size(); i++) {
        MakeSample(samples[i], i % 2 == 0 ? LoopForward : LoopPingPong, static_cast<uint32_t>(i + 1));
    }
    SetUpVoices(samples, MixedVoiceCount);
    for (int i = 0; i < MixedVoiceCount; i++) {
        MixVoice& v = MixVoices[i];
        v.volumeLeft = v.volumeRight = v.seenVolumeLeft = v.seenVolumeRight = 0;
        v.currentVolumeLeft = v.currentVolumeRight = 0;
    }
    std::vector<float> buffer(2 * SpanFrames, 0.0f);
    for (auto _ : state) {
        SndMixVoices(buffer.data(), SpanFrames);
        benchmark::DoNotOptimize(buffer.data());
        benchmark::ClobberMemory();
    }
    state.counters["voice_frames_per_s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * MixedVoiceCount * SpanFrames, benchmark::Counter::kIsRate);
    SndMixKernel = SndBestKernel();
}
BENCHMARK(BM_SndMixVoicesSilent)->ArgName("kernel")->Arg(static_cast<int>(SndBestKernel()))->Arg(0);

void BM_SndConvertBlock(benchmark::State& state)
{
    SndMixKernel = static_cast<SndKernel>(state.range(0));
    std::vector<float> source(2 * SpanFrames);
    for (size_t i = 0; i < source.size(); i++) {
        source[i] = static_cast<float>(static_cast<int>(i * 977 % 90000) - 45000) + 0.5f;
    }
    std::vector<int16_t> destination(2 * SpanFrames);
    for (auto _ : state) {
        SndConvertBlock(destination.data(), source.data(), SpanFrames);
        benchmark::DoNotOptimize(destination.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * SpanFrames);
    SndMixKernel = SndBestKernel();
}
BENCHMARK(BM_SndConvertBlock)->ArgName("kernel")->Arg(static_cast<int>(SndBestKernel()))->Arg(0);

}  // namespace
