// The fast mixer against the plainly written reference: whole songs streamed through each must give the same
// 16-bit output and leave the same voices, and so must random voices mixed span by span, ramps, loops,
// boundaries, silent voices and odd runs included.
#include "bench/bench_modules.h"
#include "tests/support/song_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

// The fast paths this processor can run.
std::vector<SndKernel> FastKernels()
{
    std::vector<SndKernel> kernels;
    for (int32_t k = static_cast<int32_t>(SndKernel::Portable); k <= static_cast<int32_t>(SndBestKernel()); k++) {
        kernels.push_back(static_cast<SndKernel>(k));
    }
    return kernels;
}

const char* KernelName(SndKernel kernel)
{
    switch (kernel) {
    case SndKernel::Reference:
        return "reference";
    case SndKernel::Portable:
        return "portable";
    case SndKernel::Avx2:
        return "avx2";
    case SndKernel::Avx512:
        return "avx512";
    }
    return "?";
}

// Puts the kernel chosen at start-up back after each test.
class MixerDiff : public ::testing::Test {
protected:
    void TearDown() override { SndMixKernel = SndBestKernel(); }
};

// ---- Whole songs ---------------------------------------------------------------------------------------------

struct Rendered {
    std::vector<int16_t> samples;
    std::vector<MixVoice> voices;  // the first 64 after the last block
};

// Plays a song as the intro streams it (play's pre-mix of the ring, then block after block) with `kernel`,
// collecting `blocks` blocks of output. The song is loaded afresh, since play changes some of its fields.
Rendered Render(Song* song, SndKernel kernel, int32_t rate, int32_t blocks)
{
    Rendered result;
    SndMixKernel = kernel;
    EXPECT_TRUE(StartStreamedSong(song, rate));  // this test alone mixes, block after block
    size_t blockSamples = static_cast<size_t>(BlockFrames) * 2;
    int32_t premixed = blocks < RingBlocks ? blocks : RingBlocks;
    result.samples.assign(OutputRing, OutputRing + premixed * blockSamples);
    for (int32_t b = RingBlocks; b < blocks; b++) {
        int32_t block = WriteBlock;
        SndMixBlock();
        const int16_t* start = OutputRing + block * blockSamples;
        result.samples.insert(result.samples.end(), start, start + blockSamples);
    }
    result.voices.assign(MixVoices, MixVoices + MixedVoiceCount);
    StopStreamedSong(song);
    return result;
}

void ExpectSameVoice(const MixVoice& a, const MixVoice& b, const std::string& where)
{
    SCOPED_TRACE(where);
    EXPECT_EQ(a.sample, b.sample);
    EXPECT_EQ(a.positionInt, b.positionInt);
    EXPECT_EQ(a.positionFrac, b.positionFrac);
    EXPECT_EQ(a.direction, b.direction);
    EXPECT_EQ(a.seenVolumeLeft, b.seenVolumeLeft);
    EXPECT_EQ(a.seenVolumeRight, b.seenVolumeRight);
    EXPECT_EQ(a.currentVolumeLeft, b.currentVolumeLeft);
    EXPECT_EQ(a.currentVolumeRight, b.currentVolumeRight);
    EXPECT_EQ(std::memcmp(&a.rampStepLeft, &b.rampStepLeft, sizeof(float)), 0);
    EXPECT_EQ(std::memcmp(&a.rampStepRight, &b.rampStepRight, sizeof(float)), 0);
    EXPECT_EQ(a.rampFramesLeft, b.rampFramesLeft);
}

// The song from `load` streamed through the reference and through every fast path: identical samples and
// voices. Sample pointers are compared by their position in the song, since each render loads its own copy.
void ExpectSameStream(const std::string& name, const std::function<Song*()>& load, int32_t rate, int32_t blocks,
                      int32_t minimumPeak)
{
    SCOPED_TRACE(name + " at " + std::to_string(rate) + " Hz");
    Song* song = load();
    ASSERT_NE(song, nullptr);
    Rendered reference = Render(song, SndKernel::Reference, rate, blocks);
    ASSERT_EQ(reference.samples.size(), static_cast<size_t>(blocks) * static_cast<size_t>(BlockFrames) * 2);
    // Not a comparison of two silences.
    EXPECT_GE(Peak(reference.samples.data(), reference.samples.size()), minimumPeak);
    for (SndKernel kernel : FastKernels()) {
        Song* again = load();
        ASSERT_NE(again, nullptr);
        Rendered fast = Render(again, kernel, rate, blocks);
        ASSERT_EQ(fast.samples.size(), reference.samples.size());
        size_t first = 0;
        while (first < fast.samples.size() && fast.samples[first] == reference.samples[first]) {
            first++;
        }
        EXPECT_EQ(first, fast.samples.size()) << KernelName(kernel) << ": first difference at sample " << first;
        for (int32_t i = 0; i < MixedVoiceCount; i++) {
            MixVoice a = reference.voices[static_cast<size_t>(i)];
            MixVoice b = fast.voices[static_cast<size_t>(i)];
            // Each render has its own song: compare whether a sample is set, not its address.
            EXPECT_EQ(a.sample == nullptr, b.sample == nullptr);
            a.sample = nullptr;
            b.sample = nullptr;
            ExpectSameVoice(a, b, std::string(KernelName(kernel)) + " voice " + std::to_string(i));
        }
    }
}

// The mixer's extremes through a song: the highest and lowest notes (steps of many frames and of tiny
// fractions) on tiny loops of each kind, short 8-bit samples without loop that end mid-span, a loop from frame
// 0, and sudden volume changes every row.
XmModule ExtremesModule()
{
    XmModule module = TraceModule(6, {32}, 2);
    module.defaultBpm = 200;
    XmSample tiny = LoopedSample(64, 200);
    tiny.pcm.resize(5);
    tiny.loopStart = 0;
    tiny.loopLength = 5;
    tiny.relativeNote = 40;
    XmSample bounce = LoopedSample(64, 30);
    bounce.pcm.resize(7);
    bounce.loop = XmLoop::PingPong;
    bounce.loopStart = 3;
    bounce.loopLength = 4;
    bounce.relativeNote = 30;
    XmSample shot;
    shot.bits = 8;
    for (int k = 0; k < 300; k++) {
        shot.pcm.push_back(static_cast<int16_t>((k * 29) % 256 - 128));
    }
    shot.relativeNote = 20;
    shot.volume = 64;
    module.instruments.push_back(SimpleInstrument(tiny));
    module.instruments.push_back(SimpleInstrument(bounce));
    module.instruments.push_back(SimpleInstrument(shot));
    XmPattern& p = module.patterns[0];
    for (int row = 0; row < 32; row++) {
        XmSetCell(&p, 6, row, 0, Cell(static_cast<uint8_t>(row % 2 == 0 ? 96 : 1), 3, 0, 0, 0));
        XmSetCell(&p, 6, row, 1, Cell(static_cast<uint8_t>(90 - row), 4, static_cast<uint8_t>(0x10 + (row * 13) % 65)));
        XmSetCell(&p, 6, row, 2, Cell(static_cast<uint8_t>(40 + row), 5, 0, 0, 0));
        XmSetCell(&p, 6, row, 3, Cell(static_cast<uint8_t>(1 + row), 1, 0, 0, 0));
        XmSetCell(&p, 6, row, 4, Cell(row % 4 == 0 ? NoteC4 : 0, 2, static_cast<uint8_t>(0x10 + (row * 41) % 65)));
        XmSetCell(&p, 6, row, 5, Cell(row % 3 == 0 ? static_cast<uint8_t>(70 + row) : 0, 4, 0, 0x0A, 0x0F));
    }
    return module;
}

TEST_F(MixerDiff, TheIntrosSongStreamsTheSameThroughEveryMixer)
{
    // 7000 blocks: the whole song up to where it comes back to its restart position (2:21).
    ExpectSameStream("glimrook.xm", [] { return LoadSongFile(GLIMROOK_PATH); }, 44100, 7000, 8000);
}

TEST_F(MixerDiff, TheCorpusModulesStreamTheSameThroughEveryMixer)
{
    for (const char* name : {"small_song.xm", "samples.xm", "wide.xm", "bare.xm"}) {
        std::string path = std::string(CORPUS_PATH) + "/" + name;
        // Only small_song.xm plays notes; the others are loader seeds whose silence is compared too.
        ExpectSameStream(name, [&path] { return LoadSongFile(path.c_str()); }, 44100, 400, std::string(name) == "small_song.xm" ? 100 : 0);
    }
}

TEST_F(MixerDiff, WrittenModulesStreamTheSameAtEveryRate)
{
    XmModule effects = EffectsModule();
    XmModule extremes = ExtremesModule();
    XmModule busy = Busy32Module();
    for (int32_t rate : {44100, 22050, 48000, 8000}) {
        ExpectSameStream("effects", [&effects] { return LoadModule(effects); }, rate, 300, 1000);
        ExpectSameStream("extremes", [&extremes] { return LoadModule(extremes); }, rate, 300, 1000);
    }
    ExpectSameStream("busy32", [&busy] { return LoadModule(busy); }, 44100, 1600, 1000);
}

// ---- Random voices -------------------------------------------------------------------------------------------

struct RandomSample {
    std::vector<int16_t> storage;
    Sample sample{};
};

// A sample laid out as the loader lays it out: a leading guard frame, the frames, a guard frame at E and
// spare frames after it. Length 0 is the empty sample without data.
void MakeRandomSample(RandomSample& s, std::mt19937& random)
{
    static const uint32_t lengths[] = {0, 1, 2, 3, 5, 17, 64, 333, 1000, 4096};
    uint32_t length = lengths[random() % 10];
    s.sample = Sample{};
    s.sample.bits = 16;
    s.sample.length = length;
    uint32_t kind = random() % 4;
    s.sample.loopMode = kind == 0 ? LoopNone : kind == 1 ? LoopForward : kind == 2 ? LoopPingPong : 6;
    if (length == 0) {
        s.sample.data = nullptr;
        s.sample.loopMode = random() % 2 == 0 ? LoopNone : 0;
        return;
    }
    s.storage.assign(1 + length + 9, 0);
    for (uint32_t i = 0; i < length; i++) {
        s.storage[1 + i] = static_cast<int16_t>(random());
    }
    s.sample.data = s.storage.data() + 1;
    if (s.sample.loopMode == LoopNone) {
        s.sample.loopStart = 0;
        s.sample.loopLength = length;
    } else {
        s.sample.loopStart = random() % 3 == 0 ? 0 : static_cast<uint32_t>(random() % length);
        s.sample.loopLength = length - s.sample.loopStart;
    }
    uint32_t end = s.sample.loopStart + s.sample.loopLength;
    s.sample.data[end] = (s.sample.loopMode & LoopForward) != 0 ? s.sample.data[s.sample.loopStart]
                         : s.sample.loopMode == LoopNone        ? 0
                                                                : s.sample.data[end - 1];
    s.sample.data[-1] = s.sample.data[0];
}

// A voice in a state the player and the mixer can leave it in: a position inside the sound, a step within
// the player's limits, targets, applied gains and a ramp that may be running, or all silent.
void MakeRandomVoice(MixVoice& voice, Sample* sample, std::mt19937& random)
{
    int32_t slot = voice.slot;
    voice = MixVoice{};
    voice.slot = slot;
    voice.sample = sample;
    uint32_t end = sample->loopStart + sample->loopLength;
    bool pingPong = (sample->loopMode & LoopForward) == 0 && (sample->loopMode & LoopPingPong) != 0;
    voice.direction = pingPong && random() % 2 == 0 ? DirBackward : DirForward;
    if (end > 0) {
        uint32_t low = voice.direction == DirBackward ? sample->loopStart : 0;
        voice.positionInt = low + static_cast<uint32_t>(random() % (end - low));
        voice.positionFrac = static_cast<uint32_t>(random());
    }
    // Steps from 2^-22 to about 200 frames, spread over the scale.
    double frames = std::ldexp(1.0, static_cast<int>(random() % 30) - 22) * (1.0 + (random() % 1000) / 1000.0);
    uint64_t step = static_cast<uint64_t>(frames * 4294967296.0) + (random() % 2);
    voice.speedInt = static_cast<uint32_t>(step >> 32);
    voice.speedFrac = static_cast<uint32_t>(step);

    switch (random() % 5) {
    case 0:  // silent: the shortcut
        break;
    case 1:  // steady at its targets
        voice.volumeLeft = static_cast<int32_t>(random() % 256);
        voice.volumeRight = static_cast<int32_t>(random() % 256);
        voice.currentVolumeLeft = voice.volumeLeft * 256;
        voice.currentVolumeRight = voice.volumeRight * 256;
        break;
    case 2:  // silent targets, but the last frame of an odd run would still carry a trace of gain
        voice.currentVolumeLeft = static_cast<int32_t>(random() % 256);
        break;
    default: {  // a ramp running or about to start, from any applied gain
        voice.volumeLeft = static_cast<int32_t>(random() % 256);
        voice.volumeRight = static_cast<int32_t>(random() % 256);
        voice.currentVolumeLeft = static_cast<int32_t>(random() % 65281);
        voice.currentVolumeRight = static_cast<int32_t>(random() % 65281);
        if (random() % 2 == 0) {
            voice.rampFramesLeft = 1 + static_cast<int32_t>(random() % static_cast<uint32_t>(RampFrames));
            // Mostly the steps a ramp takes; sometimes odd ones whose sums are not exact in double, which the
            // fast path must add frame by frame as the reference does.
            uint32_t odd = random() % 8;
            float scale = odd == 0 ? 1e-30f : odd == 1 ? 1e-16f : (1.0f / 255.0f) * RampFramesReciprocal;
            voice.rampStepLeft = static_cast<float>(static_cast<int32_t>(random() % 511) - 255) * scale;
            voice.rampStepRight = static_cast<float>(static_cast<int32_t>(random() % 511) - 255) * scale;
        }
        break;
    }
    }
    voice.seenVolumeLeft = random() % 4 == 0 ? voice.volumeLeft ^ 1 : voice.volumeLeft;
    voice.seenVolumeRight = voice.volumeRight;
}

TEST_F(MixerDiff, RandomVoicesMixTheSameAsTheReference)
{
    std::mt19937 random(20261207);
    std::vector<RandomSample> samples(24);
    int64_t comparedFrames = 0;
    for (int32_t rate : {44100, 48000, 11025}) {
        RampFrames = (rate * 128) / 44100;
        RampFramesReciprocal = 1.0f / static_cast<float>(RampFrames);
        for (int scenario = 0; scenario < 150; scenario++) {
            for (RandomSample& s : samples) {
                MakeRandomSample(s, random);
            }
            int32_t voices = 1 + static_cast<int32_t>(random() % MixedVoiceCount);
            ResetOutput(rate);
            for (int32_t i = 0; i < voices; i++) {
                MakeRandomVoice(MixVoices[i], &samples[random() % samples.size()].sample, random);
            }
            std::vector<MixVoice> start(MixVoices, MixVoices + MixedVoiceCount);
            // A few calls in a row, with new targets between some of them as the player sets them.
            std::vector<int32_t> spans;
            std::vector<uint32_t> changes;
            for (int k = 0; k < 4; k++) {
                spans.push_back(static_cast<int32_t>(random() % 3 == 0 ? random() % 8 : random() % 1200));
                changes.push_back(static_cast<uint32_t>(random()));
            }
            auto run = [&](SndKernel kernel, std::vector<float>& buffer) {
                SndMixKernel = kernel;
                std::copy(start.begin(), start.end(), MixVoices);
                std::mt19937 fill(static_cast<uint32_t>(scenario));
                buffer.assign(2 * 1200, 0.0f);
                for (float& value : buffer) {
                    value = static_cast<float>(static_cast<int32_t>(fill() % 20001) - 10000) * 0.25f;
                }
                for (size_t k = 0; k < spans.size(); k++) {
                    SndMixVoices(buffer.data(), spans[k]);
                    int32_t changed = static_cast<int32_t>(changes[k] % static_cast<uint32_t>(voices));
                    MixVoices[changed].volumeLeft = static_cast<int32_t>(changes[k] >> 24);
                }
            };
            std::vector<float> expected;
            run(SndKernel::Reference, expected);
            std::vector<MixVoice> expectedVoices(MixVoices, MixVoices + MixedVoiceCount);
            for (SndKernel kernel : FastKernels()) {
                std::vector<float> actual;
                run(kernel, actual);
                std::string where = std::string(KernelName(kernel)) + ", rate " + std::to_string(rate) +
                                    ", scenario " + std::to_string(scenario);
                for (size_t i = 0; i < actual.size(); i++) {
                    // == treats +0 and -0 alike: a skipped silent voice may leave the other zero.
                    ASSERT_TRUE(actual[i] == expected[i]) << where << ", value " << i << ": " << actual[i]
                                                          << " instead of " << expected[i];
                }
                for (int32_t i = 0; i < MixedVoiceCount; i++) {
                    ExpectSameVoice(expectedVoices[static_cast<size_t>(i)], MixVoices[i], where + ", voice " + std::to_string(i));
                }
                comparedFrames += static_cast<int64_t>(actual.size() / 2);
            }
        }
    }
    EXPECT_GT(comparedFrames, 0);
}

TEST_F(MixerDiff, ConversionMatchesTheReferenceAtEveryEdge)
{
    std::vector<float> source = {0.0f, -0.0f, 0.5f, 1.5f, 2.5f, -2.5f, 32766.5f, 32767.4f, 32767.5f, 32768.0f,
                                 -32768.4f, -32768.5f, -32769.0f, 1e10f, -1e10f, 1e-30f, 12345.67f, -0.5f};
    source.push_back(std::numeric_limits<float>::infinity());
    source.push_back(-std::numeric_limits<float>::infinity());
    source.push_back(std::numeric_limits<float>::quiet_NaN());
    std::mt19937 random(7);
    while (source.size() < 2 * 137) {  // odd frame count: the vector loop's tail too
        source.push_back(static_cast<float>(static_cast<int32_t>(random() % 140001) - 70000) * 0.5f);
    }
    int32_t frames = static_cast<int32_t>(source.size() / 2);
    std::vector<int16_t> expected(source.size());
    SndConvertBlockReference(expected.data(), source.data(), frames);
    EXPECT_EQ(expected[4], 2);
    EXPECT_EQ(expected[13], 32767);
    EXPECT_EQ(expected[20], -32768);
    for (SndKernel kernel : FastKernels()) {
        SndMixKernel = kernel;
        std::vector<int16_t> actual(source.size(), 99);
        SndConvertBlock(actual.data(), source.data(), frames);
        EXPECT_EQ(actual, expected) << KernelName(kernel);
    }
}

}  // namespace
