// The mixer against expected values worked out frame by frame: a plain per-frame model of the voice (step,
// wrap, gain) stands beside each case, never the mixer's own output.
#include "sound/sound.h"

#include "sound_test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {

constexpr float Inv255 = 1.0f / 255.0f;
constexpr uint64_t One = uint64_t{1} << 32;

float Gain(int32_t volume)
{
    return static_cast<float>(volume) * Inv255;
}

// The gain a stored volume x 256 stands for.
float CurrentGain(int32_t current)
{
    return static_cast<float>(current) / 256.0f * Inv255;
}

// Linear interpolation at a raw position: the weight is the fraction's top 31 bits.
double Frame(const TestSample& s, uint64_t position)
{
    int64_t index = static_cast<int32_t>(static_cast<uint32_t>(position >> 32));
    double t = static_cast<double>(static_cast<uint32_t>(position) >> 1) / 2147483648.0;
    return s.At(index) + (s.At(index + 1) - s.At(index)) * t;
}

float Add(float sum, double x, double gain)
{
    return static_cast<float>(static_cast<double>(sum) + x * gain);
}

// Ramp step at 128 ramp frames: the reciprocal is a power of two, so d x (1/255) / 128 rounds only once.
float StepAt128(int32_t d)
{
    return static_cast<float>(d * static_cast<double>(Inv255) / 128.0);
}

std::vector<int16_t> Ramp(int count, int first, int by)
{
    std::vector<int16_t> frames(count);
    for (int i = 0; i < count; i++) {
        frames[i] = static_cast<int16_t>(first + i * by);
    }
    return frames;
}

class MixerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (int32_t i = 0; i < MixVoiceSlots; i++) {
            MixVoices[i] = MixVoice{};
            MixVoices[i].slot = i;
            MixVoices[i].speedInt = 1;
        }
        RampFrames = 128;
        RampFramesReciprocal = 1.0f / 128.0f;
    }
    void TearDown() override
    {
        for (MixVoice& voice : MixVoices) {
            voice.sample = nullptr;
        }
    }
    std::vector<float> buffer = std::vector<float>(2 * 2048, 0.0f);
};

TEST_F(MixerTest, OneShotSampleEndsAfterItsLastFrame)
{
    std::vector<int16_t> frames = Ramp(100, -15000, 300);
    TestSample s(frames, LoopNone);
    SetSteadyVoice(MixVoices[0], &s.sample, 0, One, 255, 128);

    SndMixVoices(buffer.data(), 150);

    for (int f = 0; f < 100; f++) {
        ASSERT_EQ(buffer[2 * f], Add(0.0f, frames[f], Gain(255))) << f;
        ASSERT_EQ(buffer[2 * f + 1], Add(0.0f, frames[f], Gain(128))) << f;
    }
    for (int f = 100; f < 150; f++) {
        ASSERT_EQ(buffer[2 * f], 0.0f) << f;
        ASSERT_EQ(buffer[2 * f + 1], 0.0f) << f;
    }
    EXPECT_EQ(MixVoices[0].sample, nullptr);
    EXPECT_EQ(MixVoices[0].positionInt, 0u);
    EXPECT_EQ(MixVoices[0].positionFrac, 0u);
}

// A forward loop 10..30 played at whole and at fractional steps; 45.5 crosses the end by more than one loop
// length, and some positions interpolate towards the guard frame (a copy of frame 10).
TEST_F(MixerTest, ForwardLoopWrapsByWholeLoopLengths)
{
    std::vector<int16_t> frames = Ramp(30, -9000, 577);
    for (double stepFrames : {1.0, 45.5}) {
        SetUp();
        std::fill(buffer.begin(), buffer.end(), 0.0f);
        TestSample s(frames, LoopForward, 10, 20);
        uint64_t step = Raw(stepFrames);
        SetSteadyVoice(MixVoices[3], &s.sample, 0, step, 200, 50);

        SndMixVoices(buffer.data(), 100);

        uint64_t p = 0;
        bool sawGuard = false;
        for (int f = 0; f < 100; f++) {
            sawGuard = sawGuard || (p >> 32) == 29;
            double x = Frame(s, p);
            ASSERT_EQ(buffer[2 * f], Add(0.0f, x, Gain(200))) << stepFrames << " frame " << f;
            ASSERT_EQ(buffer[2 * f + 1], Add(0.0f, x, Gain(50))) << stepFrames << " frame " << f;
            p += step;
            while ((p >> 32) >= 30) {
                p -= 20 * One;
            }
        }
        EXPECT_TRUE(sawGuard);
        EXPECT_EQ(VoicePosition(MixVoices[3]), p) << stepFrames;
        EXPECT_EQ(MixVoices[3].sample, &s.sample);
    }
}

TEST_F(MixerTest, PingPongTurnsOneUnitShortOfTheMirrorImage)
{
    std::vector<int16_t> frames = Ramp(30, -14000, 1000);
    TestSample s(frames, LoopPingPong, 10, 20);
    MixVoice& voice = MixVoices[1];
    SetSteadyVoice(voice, &s.sample, 29 * One + One / 4, One, 255, 255);

    // The frame at 29.25 takes the position to 30.25, which mirrors to 29.75 less 2^-32, moving backward.
    SndMixVoices(buffer.data(), 1);
    EXPECT_EQ(buffer[0], Add(0.0f, frames[29], Gain(255)));  // the guard frame repeats frame 29
    EXPECT_EQ(voice.positionInt, 29u);
    EXPECT_EQ(voice.positionFrac, 0xBFFFFFFFu);
    EXPECT_EQ(voice.direction, DirBackward);

    std::fill(buffer.begin(), buffer.end(), 0.0f);
    SndMixVoices(buffer.data(), 2);
    // 29.75 - 2^-32 reads frames 29 and 30 (the same value); the lowest fraction bit is dropped before the
    // step back, so the next frame is 28.75 - 2^-31.
    EXPECT_EQ(buffer[0], Add(0.0f, frames[29], Gain(255)));
    double t = static_cast<double>(0x5FFFFFFFu) / 2147483648.0;
    EXPECT_EQ(buffer[2], Add(0.0f, frames[28] + (frames[29] - frames[28]) * t, Gain(255)));
    EXPECT_EQ(voice.positionInt, 27u);
    EXPECT_EQ(voice.positionFrac, 0xBFFFFFFEu);
}

// A ping-pong loop from frame 0 turning at its start lands a fraction before frame 0 and reads the leading
// guard frame data[-1] through a signed index.
TEST_F(MixerTest, PingPongTurnAtFrameZeroReadsTheLeadingGuardFrame)
{
    std::vector<int16_t> frames = Ramp(20, 1000, 100);
    TestSample s(frames, LoopPingPong, 0, 20);
    s.sample.data[-1] = 5000;  // distinct from frame 0, so the read shows
    MixVoice& voice = MixVoices[0];
    SetSteadyVoice(voice, &s.sample, One, One, 255, 255);
    voice.direction = DirBackward;

    SndMixVoices(buffer.data(), 3);

    double t = static_cast<double>(0x7FFFFFFFu) / 2147483648.0;
    EXPECT_EQ(buffer[0], Add(0.0f, frames[1], Gain(255)));
    EXPECT_EQ(buffer[2], Add(0.0f, 5000 + (frames[0] - 5000) * t, Gain(255)));
    EXPECT_EQ(buffer[4], Add(0.0f, frames[0] + (frames[1] - frames[0]) * t, Gain(255)));
    EXPECT_EQ(voice.direction, DirForward);
    EXPECT_EQ(VoicePosition(voice), 2 * One - 2);
}

TEST_F(MixerTest, RampFromSilenceReachesFullGainAfter128Frames)
{
    TestSample s(std::vector<int16_t>(400, 1000), LoopForward, 0, 400);
    MixVoice& voice = MixVoices[0];
    SetSteadyVoice(voice, &s.sample, 0, One, 0, 0);
    voice.volumeLeft = 255;  // a new target: left ramps up, right stays silent

    SndMixVoices(buffer.data(), 200);

    float step = StepAt128(255);
    double gain = 0.0;
    for (int f = 0; f < 128; f++) {
        ASSERT_EQ(buffer[2 * f], Add(0.0f, 1000.0, gain)) << f;
        gain += step;
    }
    EXPECT_NEAR(buffer[2 * 64], 500.0f, 0.01f);  // 1/128 of full scale per frame
    for (int f = 128; f < 200; f++) {
        ASSERT_EQ(buffer[2 * f], Add(0.0f, 1000.0, Gain(255))) << f;
    }
    for (int f = 0; f < 200; f++) {
        ASSERT_EQ(buffer[2 * f + 1], 0.0f) << f;
    }
    EXPECT_EQ(voice.currentVolumeLeft, 65280);
    EXPECT_EQ(voice.currentVolumeRight, 0);
    EXPECT_EQ(voice.rampFramesLeft, 0);
    EXPECT_EQ(voice.rampStepLeft, 0.0f);
}

// A ramp begun 50 frames before the span's end goes on for 78 frames in the next call, starting from the
// gain stored as volume x 256; a changed target there starts a new 128-frame ramp from that gain instead.
TEST_F(MixerTest, RampCutBySpanEndContinuesInTheNextCall)
{
    TestSample s(std::vector<int16_t>(1000, -2000), LoopForward, 0, 1000);
    float step = StepAt128(255);
    double reached = 0.0;
    for (int f = 0; f < 50; f++) {
        reached += step;
    }
    int32_t storedVolume = static_cast<int32_t>(std::nearbyint(reached * 255.0 * 256.0));

    for (bool retarget : {false, true}) {
        SetUp();
        std::fill(buffer.begin(), buffer.end(), 0.0f);
        MixVoice& voice = MixVoices[7];
        SetSteadyVoice(voice, &s.sample, 0, One, 0, 0);
        voice.volumeLeft = 255;
        SndMixVoices(buffer.data(), 50);
        ASSERT_EQ(voice.rampFramesLeft, 78);
        ASSERT_EQ(voice.currentVolumeLeft, storedVolume);

        if (retarget) {
            voice.volumeLeft = 10;
        }
        std::fill(buffer.begin(), buffer.end(), 0.0f);
        SndMixVoices(buffer.data(), 100);

        double gain = CurrentGain(storedVolume);
        float nextStep = retarget ? StepAt128(10 - (storedVolume >> 8)) : step;
        int rampFrames = retarget ? 100 : 78;
        for (int f = 0; f < rampFrames; f++) {
            ASSERT_EQ(buffer[2 * f], Add(0.0f, -2000.0, gain)) << retarget << " frame " << f;
            gain += nextStep;
        }
        for (int f = rampFrames; f < 100; f++) {
            ASSERT_EQ(buffer[2 * f], Add(0.0f, -2000.0, Gain(255))) << f;
        }
        EXPECT_EQ(voice.rampFramesLeft, retarget ? 28 : 0);
        if (!retarget) {
            EXPECT_EQ(voice.currentVolumeLeft, 65280);
        }
    }
}

// A forward loop from frame 0 with a position less than 256 raw units short of its end: the boundary count is
// 0 there, and the voice must still move on (one frame crosses the end).
TEST_F(MixerTest, LoopFromFrameZeroJustShortOfItsEndStillAdvances)
{
    std::vector<int16_t> frames = Ramp(20, 300, 250);
    TestSample s(frames, LoopForward, 0, 20);
    uint64_t p = 20 * One - 100;
    SetSteadyVoice(MixVoices[0], &s.sample, p, One, 255, 255);

    SndMixVoices(buffer.data(), 45);

    for (int f = 0; f < 45; f++) {
        ASSERT_EQ(buffer[2 * f], Add(0.0f, Frame(s, p), Gain(255))) << f;
        p = (p & ~uint64_t{1}) + One;
        if ((p >> 32) >= 20) {
            p -= 20 * One;
        }
    }
    EXPECT_EQ(VoicePosition(MixVoices[0]), p);
}

// A new ramp in which one side does not move must not leave that side the step of the ramp before: a later
// run of the same ramp would apply it and the gain would jump back when the ramp ends. Checked for each side.
TEST_F(MixerTest, SideWithoutChangeInANewRampKeepsItsGain)
{
    TestSample s(std::vector<int16_t>(1000, 3000), LoopForward, 0, 1000);
    for (int still : {0, 1}) {  // the channel that keeps its gain: 0 left, 1 right
        SetUp();
        MixVoice& voice = MixVoices[2];
        int32_t* target[2] = {&voice.volumeLeft, &voice.volumeRight};
        int32_t* current[2] = {&voice.currentVolumeLeft, &voice.currentVolumeRight};
        float* stepField[2] = {&voice.rampStepLeft, &voice.rampStepRight};
        SetSteadyVoice(voice, &s.sample, 0, One, 0, 0);
        voice.volumeLeft = 255;
        voice.volumeRight = 255;
        std::fill(buffer.begin(), buffer.end(), 0.0f);
        SndMixVoices(buffer.data(), 10);
        int32_t reached = *current[still];
        ASSERT_GT(reached >> 8, 0);

        // The other side now falls to 0; this side's target is what it has reached, so only the other ramps.
        *target[1 - still] = 0;
        *target[still] = reached >> 8;
        std::fill(buffer.begin(), buffer.end(), 0.0f);
        SndMixVoices(buffer.data(), 50);
        EXPECT_EQ(voice.rampFramesLeft, 78);
        EXPECT_EQ(*stepField[still], 0.0f);
        for (int f = 0; f < 50; f++) {
            ASSERT_EQ(buffer[2 * f + still], Add(0.0f, 3000.0, CurrentGain(reached))) << still << " frame " << f;
        }
        int32_t after = *current[still];

        std::fill(buffer.begin(), buffer.end(), 0.0f);
        SndMixVoices(buffer.data(), 100);
        for (int f = 0; f < 78; f++) {
            ASSERT_EQ(buffer[2 * f + still], Add(0.0f, 3000.0, CurrentGain(after))) << still << " frame " << f;
        }
        for (int f = 78; f < 100; f++) {
            ASSERT_EQ(buffer[2 * f + still], Add(0.0f, 3000.0, Gain(reached >> 8))) << still << " frame " << f;
            ASSERT_EQ(buffer[2 * f + 1 - still], 0.0f) << still << " frame " << f;
        }
        EXPECT_EQ(*current[still], (reached >> 8) * 256);
    }
}

// Fixed gains go two frames at a time; the odd last frame uses the current gains, which differ only when the
// stored volume is not exactly the target x 256.
TEST_F(MixerTest, OddLastFrameUsesTheCurrentGains)
{
    TestSample s(std::vector<int16_t>(100, 4000), LoopForward, 0, 100);
    MixVoice& voice = MixVoices[0];

    SetSteadyVoice(voice, &s.sample, 0, One, 100, 30);
    SndMixVoices(buffer.data(), 7);
    for (int f = 0; f < 7; f++) {
        ASSERT_EQ(buffer[2 * f], Add(0.0f, 4000.0, Gain(100))) << f;
        ASSERT_EQ(buffer[2 * f + 1], Add(0.0f, 4000.0, Gain(30))) << f;
    }

    for (int frames : {6, 7}) {
        std::fill(buffer.begin(), buffer.end(), 0.0f);
        SetSteadyVoice(voice, &s.sample, 0, One, 100, 30);
        voice.currentVolumeLeft = 100 * 256 + 200;  // no ramp: the integer part equals the target
        SndMixVoices(buffer.data(), frames);
        for (int f = 0; f < frames; f++) {
            float expected = (frames == 7 && f == 6) ? Add(0.0f, 4000.0, CurrentGain(100 * 256 + 200))
                                                     : Add(0.0f, 4000.0, Gain(100));
            ASSERT_EQ(buffer[2 * f], expected) << frames << " frame " << f;
        }
        EXPECT_EQ(voice.rampFramesLeft, 0);
    }
    EXPECT_NE(CurrentGain(100 * 256 + 200), Gain(100));
}

TEST_F(MixerTest, ConversionRoundsToNearestEvenAndClamps)
{
    const float in[] = {32767.4f, 40000.0f, -40000.0f, 2.5f, 3.5f, -2.5f, 32767.5f, -32768.5f, -0.4f, 1.5f};
    const int16_t expected[] = {32767, 32767, -32768, 2, 4, -2, 32767, -32768, 0, 2};
    int16_t out[10] = {};
    SndConvertBlock(out, in, 5);
    for (int i = 0; i < 10; i++) {
        EXPECT_EQ(out[i], expected[i]) << in[i];
    }
    int16_t untouched[2] = {7, 7};
    SndConvertBlock(untouched, in, 0);
    SndConvertBlock(untouched, nullptr, 1);
    EXPECT_EQ(untouched[0], 7);
    EXPECT_EQ(untouched[1], 7);
}

TEST_F(MixerTest, TwoFullScaleVoicesClipWithoutMasterGain)
{
    TestSample s(std::vector<int16_t>(64, 30000), LoopForward, 0, 64);
    SetSteadyVoice(MixVoices[0], &s.sample, 0, One, 255, 0);
    SetSteadyVoice(MixVoices[40], &s.sample, 0, One, 255, 100);
    SndMixVoices(buffer.data(), 16);
    int16_t out[32] = {};
    SndConvertBlock(out, buffer.data(), 16);
    for (int f = 0; f < 16; f++) {
        EXPECT_EQ(out[2 * f], 32767);
        // One voice at 100/255 on the right, no scaling by the number of voices.
        EXPECT_EQ(out[2 * f + 1], static_cast<int16_t>(std::nearbyint(Add(0.0f, 30000.0, Gain(100)))));
    }
}

TEST_F(MixerTest, NothingChangesForAnEmptySpanOrVoicesBeyond63)
{
    TestSample s(std::vector<int16_t>(64, 1234), LoopNone);
    SetSteadyVoice(MixVoices[5], &s.sample, 3 * One, One, 10, 0);
    MixVoices[5].volumeLeft = 200;  // a ramp would start at the next run
    SetSteadyVoice(MixVoices[64], &s.sample, 0, One, 255, 255);
    MixVoice before[MixVoiceSlots];
    std::memcpy(before, MixVoices, sizeof(before));

    SndMixVoices(buffer.data(), 0);
    SndMixVoices(buffer.data(), -5);
    EXPECT_EQ(std::memcmp(before, MixVoices, sizeof(before)), 0);

    MixVoices[5].sample = nullptr;
    SndMixVoices(buffer.data(), 32);
    for (float value : buffer) {
        ASSERT_EQ(value, 0.0f);
    }
    EXPECT_EQ(std::memcmp(&before[64], &MixVoices[64], sizeof(MixVoice)), 0);
}

TEST_F(MixerTest, EmptySampleEndsAtOnceWithoutReading)
{
    Sample empty{};  // as EmptySample: no data, length 0, loopMode 0
    MixVoice& voice = MixVoices[9];
    SetSteadyVoice(voice, &empty, 0, One, 0, 0);
    voice.volumeLeft = 64;
    SndMixVoices(buffer.data(), 100);
    EXPECT_EQ(voice.sample, nullptr);
    for (float value : buffer) {
        ASSERT_EQ(value, 0.0f);
    }
}

// A step below 2^-24 sets no boundary (no division by zero) and creeps along; a step of 256 frames or more
// still ends its runs at the loop's end, so reads stay inside the sample.
TEST_F(MixerTest, TinyAndHugeStepsStayInsideTheSample)
{
    std::vector<int16_t> frames = Ramp(600, -6000, 20);
    TestSample s(frames, LoopForward, 100, 500);

    uint64_t p = 5 * One;
    SetSteadyVoice(MixVoices[0], &s.sample, p, 100, 255, 255);
    SndMixVoices(buffer.data(), 10);
    for (int f = 0; f < 10; f++) {
        ASSERT_EQ(buffer[2 * f], Add(0.0f, Frame(s, p), Gain(255))) << f;
        p = (p & ~uint64_t{1}) + 100;
    }
    EXPECT_EQ(VoicePosition(MixVoices[0]), p);

    SetUp();
    std::fill(buffer.begin(), buffer.end(), 0.0f);
    uint64_t step = 300 * One;
    p = 0;
    SetSteadyVoice(MixVoices[0], &s.sample, p, step, 255, 255);
    SndMixVoices(buffer.data(), 20);
    for (int f = 0; f < 20; f++) {
        ASSERT_EQ(buffer[2 * f], Add(0.0f, Frame(s, p), Gain(255))) << f;
        p += step;
        while ((p >> 32) >= 600) {
            p -= 500 * One;
        }
    }
    EXPECT_EQ(VoicePosition(MixVoices[0]), p);
}

// Away from 128 ramp frames the step's reciprocal is not a power of two; the product d x (1/255) x (1/R) is
// rounded to a float once. Extended precision holds that product exactly, so it serves as the reference.
TEST_F(MixerTest, RampStepIsTheExactProductRoundedOnce)
{
    if (std::numeric_limits<long double>::digits < 64) {
        GTEST_SKIP() << "needs a 64-bit long double mantissa for the reference";
    }
    TestSample s(std::vector<int16_t>(64, 0), LoopForward, 0, 64);
    MixVoice& voice = MixVoices[0];
    for (int32_t rampFrames : {2, 3, 64, 139, 1000, 2902}) {
        RampFrames = rampFrames;
        RampFramesReciprocal = 1.0f / static_cast<float>(rampFrames);
        for (int32_t d = -255; d <= 255; d++) {
            if (d == 0) {
                continue;
            }
            SetSteadyVoice(voice, &s.sample, 0, One, d > 0 ? d : 0, 0);
            voice.currentVolumeLeft = d > 0 ? 0 : -d * 256;
            SndMixVoices(buffer.data(), 1);
            long double exact = static_cast<long double>(d) * static_cast<long double>(Inv255) *
                                static_cast<long double>(RampFramesReciprocal);
            ASSERT_EQ(voice.rampStepLeft, static_cast<float>(exact)) << rampFrames << " " << d;
            ASSERT_EQ(voice.rampFramesLeft, rampFrames - 1) << d;
        }
    }
}

}  // namespace
