// Mixer throughput in voice-frames per second: 32 voices on looping samples at assorted pitches, mixed in
// block-sized spans as the streaming thread mixes them. Run by hand: ./mixer_bench
#include "sound/sound.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

constexpr int VoiceCount = 32;
constexpr int SpanFrames = 884;

struct BenchSample {
    std::vector<int16_t> storage;
    Sample sample{};
};

// A 20000-frame sample with a leading guard frame and 9 spare frames, looping forward or ping-pong.
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

void SetUpVoices(std::vector<BenchSample>& samples, bool ramping)
{
    RampFrames = 128;
    RampFramesReciprocal = 1.0f / 128.0f;
    for (int i = 0; i < MixVoiceSlots; i++) {
        MixVoices[i] = MixVoice{};
        MixVoices[i].slot = i;
        MixVoices[i].speedInt = 1;
    }
    for (int i = 0; i < VoiceCount; i++) {
        MixVoice& v = MixVoices[i];
        v.sample = &samples[i % samples.size()].sample;
        v.direction = DirForward;
        // Steps from about 0.3 to 2.8 frames per output frame, as notes across several octaves.
        uint64_t step = (uint64_t{1} << 30) + static_cast<uint64_t>(i) * (uint64_t{1} << 28) + 12345u * static_cast<uint64_t>(i);
        v.speedInt = static_cast<uint32_t>(step >> 32);
        v.speedFrac = static_cast<uint32_t>(step);
        v.volumeLeft = 40 + i * 2;
        v.volumeRight = 100 - i;
        if (!ramping) {
            v.seenVolumeLeft = v.volumeLeft;
            v.seenVolumeRight = v.volumeRight;
            v.currentVolumeLeft = v.volumeLeft * 256;
            v.currentVolumeRight = v.volumeRight * 256;
        }
    }
}

void MixSpans(benchmark::State& state, bool ramping)
{
    std::vector<BenchSample> samples(4);
    for (size_t i = 0; i < samples.size(); i++) {
        MakeSample(samples[i], i % 2 == 0 ? LoopForward : LoopPingPong, static_cast<uint32_t>(i + 1));
    }
    SetUpVoices(samples, ramping);
    std::vector<float> span(2 * SpanFrames, 0.0f);
    int32_t volume = 0;
    for (auto _ : state) {
        if (ramping) {
            // New targets every span, so every voice ramps all the time.
            volume = (volume + 37) & 127;
            for (int i = 0; i < VoiceCount; i++) {
                MixVoices[i].volumeLeft = volume;
            }
        }
        SndMixVoices(span.data(), SpanFrames);
        benchmark::DoNotOptimize(span.data());
        benchmark::ClobberMemory();
    }
    state.counters["voice_frames_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * VoiceCount * SpanFrames, benchmark::Counter::kIsRate);
}

void BM_Mix32LoopingVoices(benchmark::State& state)
{
    MixSpans(state, false);
}
BENCHMARK(BM_Mix32LoopingVoices);

void BM_Mix32LoopingVoicesRamping(benchmark::State& state)
{
    MixSpans(state, true);
}
BENCHMARK(BM_Mix32LoopingVoicesRamping);

void BM_ConvertBlock(benchmark::State& state)
{
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
}
BENCHMARK(BM_ConvertBlock);

}  // namespace
