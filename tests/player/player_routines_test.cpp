// The per-track routines on hand-set channels: periods and frequencies, the hand-over to the voice pair,
// envelopes, the vibrato family and the instrument start.
#include "tests/support/song_support.h"

#include <gtest/gtest.h>

namespace {

class PlayerRoutines : public testing::Test {
protected:
    void SetUp() override
    {
        ResetOutput(44100);
        song = Song{};
        song.flags = 1;
        song.globalVolume = 64;
        channel = MusicChannel{};
        channel.voice = &MixVoices[0];
        sample = Sample{};
        sample.length = 100;
        sample.loopLength = 100;
        sample.loopMode = LoopNone;
    }

    // Frequency in Hz the voice's step stands for (rounded down), at 44100.
    static uint64_t VoiceHz(const MixVoice& voice)
    {
        uint64_t raw = (uint64_t{voice.speedInt} << 32) | voice.speedFrac;
        return (raw * 44100 + (uint64_t{1} << 31)) >> 32;
    }

    uint64_t HandOverPitch(int32_t period, int32_t periodDelta)
    {
        channel.period = period;
        channel.periodDelta = periodDelta;
        channel.updateFlags = UpdatePitch;
        UpdateVoice(&channel, &sample, &song);
        return VoiceHz(*channel.voice);
    }

    Song song{};
    MusicChannel channel{};
    Sample sample{};
};

TEST_F(PlayerRoutines, AmigaPeriodsFollowTheTableAndFinetune)
{
    EXPECT_EQ(AmigaPeriod(48, 0), 1712);
    EXPECT_EQ(AmigaPeriod(0, 0), 27392);
    EXPECT_EQ(AmigaPeriod(48, 64), 1664);  // (1712 - 1616) x 64 / -128 truncates to -48
    EXPECT_EQ(AmigaPeriod(48, 127), 1616);
    EXPECT_EQ(AmigaPeriod(48, -128), 1813);
    EXPECT_EQ(AmigaPeriod(0, -16), 27584);  // note 0 interpolates with the note above
    // The top of the table: 1 from note 165, 0 from note 177, and the wrapped note 255 plus 15 stays inside.
    EXPECT_EQ(AmigaPeriod(164, 0), 2);
    EXPECT_EQ(AmigaPeriod(165, 0), 1);
    EXPECT_EQ(AmigaPeriod(176, 0), 1);
    EXPECT_EQ(AmigaPeriod(177, 0), 0);
    EXPECT_EQ(AmigaPeriod(270, 127), 0);
    EXPECT_EQ(AmigaPeriod(300, 0), 0);
}

TEST_F(PlayerRoutines, LinearPeriodsGiveTheirFrequencies)
{
    EXPECT_EQ(HandOverPitch(4608, 0), 8363u);
    EXPECT_EQ(HandOverPitch(4608, 768), 16726u);
    // The power is taken with the single-precision 1/768 but in double: 703 gives 15772.
    EXPECT_EQ(HandOverPitch(4608 - 703, 0), 15772u);
    // The step is exactly F / rate in 32.32.
    channel.period = 4608;
    channel.periodDelta = 0;
    channel.updateFlags = UpdatePitch;
    UpdateVoice(&channel, &sample, &song);
    EXPECT_EQ(channel.voice->speedInt, 0u);
    EXPECT_EQ(channel.voice->speedFrac, static_cast<uint32_t>((uint64_t{8363} << 32) / 44100));
}

TEST_F(PlayerRoutines, AmigaPeriodsGiveTheirFrequencies)
{
    song.flags = 0;
    EXPECT_EQ(HandOverPitch(1712, 0), 8362u);
    EXPECT_EQ(HandOverPitch(428, 0), 33451u);
    EXPECT_EQ(HandOverPitch(400000, 0), 100u);  // 35 Hz raised to the floor
    EXPECT_EQ(HandOverPitch(-5, 0), 100u);      // negative frequency
    // Period 1 would be 14 MHz: held just below 256 frames per output frame.
    HandOverPitch(1, 0);
    EXPECT_EQ(channel.voice->speedInt, 255u);
    EXPECT_EQ(channel.voice->speedFrac, static_cast<uint32_t>((uint64_t{44099} << 32) / 44100));
}

TEST_F(PlayerRoutines, FrequencyFloorAndCeilingInTheLinearScale)
{
    EXPECT_EQ(HandOverPitch(7680 + 64 * 60, 0), 100u);
    // Slid far up: the product does not fit in 32 bits and counts as below the floor.
    EXPECT_EQ(HandOverPitch(-SlideLimit, 0), 100u);
    // Just inside 32 bits but above 256 x rate: the ceiling.
    HandOverPitch(4608 - 768 * 14, 0);  // 8363 x 2^14 = 137 MHz
    EXPECT_EQ(channel.voice->speedInt, 255u);
}

TEST_F(PlayerRoutines, ZeroPeriodLeavesTheStepAlone)
{
    channel.voice->speedInt = 7;
    channel.voice->speedFrac = 9;
    HandOverPitch(0, 0);
    EXPECT_EQ(channel.voice->speedInt, 7u);
    EXPECT_EQ(channel.voice->speedFrac, 9u);
    EXPECT_EQ(channel.updateFlags & UpdatePitch, 0);
    song.flags = 0;
    HandOverPitch(30, -30);  // the Amiga scale would divide by zero
    EXPECT_EQ(channel.voice->speedInt, 7u);
}

TEST_F(PlayerRoutines, VolumeHandOverAndPanningSplit)
{
    channel.volume = 64;
    channel.volEnvVolume = 64;
    channel.fadeoutVolume = 65536;
    channel.panning = 128;
    channel.panEnvPanning = 32;
    channel.updateFlags = UpdateVolume | UpdatePanning;
    UpdateVoice(&channel, &sample, &song);
    EXPECT_EQ(channel.voice->volume, 127);
    EXPECT_EQ(channel.voice->volumeLeft, 63);
    EXPECT_EQ(channel.voice->volumeRight, 63);

    // 0 is left and 255 is right.
    channel.panning = 255;
    channel.updateFlags = UpdatePanning;
    UpdateVoice(&channel, &sample, &song);
    EXPECT_EQ(channel.voice->volumeLeft, 0);
    EXPECT_EQ(channel.voice->volumeRight, 127);
    channel.panning = 0;
    channel.updateFlags = UpdatePanning;
    UpdateVoice(&channel, &sample, &song);
    EXPECT_EQ(channel.voice->volumeLeft, 127);
    EXPECT_EQ(channel.voice->volumeRight, 0);

    // A volume change splits at the panning last handed over.
    channel.volume = 32;
    channel.updateFlags = UpdateVolume;
    UpdateVoice(&channel, &sample, &song);
    EXPECT_EQ(channel.voice->volume, 63);
    EXPECT_EQ(channel.voice->volumeLeft, 63);
    EXPECT_EQ(channel.voice->volumeRight, 0);

    // Sample volumes and Cxx above 64 are kept: the product goes past 127.
    channel.volume = 255;
    channel.updateFlags = UpdateVolume;
    UpdateVoice(&channel, &sample, &song);
    EXPECT_EQ(channel.voice->volume, 508);
}

TEST_F(PlayerRoutines, PanningEnvelopeSwingShrinksTowardTheEdges)
{
    channel.volume = 64;
    channel.volEnvVolume = 64;
    channel.fadeoutVolume = 65536;
    struct Case {
        int32_t panning, envelope, expected;
    } cases[] = {{0, 64, 0}, {255, 0, 255}, {128, 64, 255}, {128, 0, 0}, {128, 40, 160}, {200, 64, 232},
                 {200, 0, 168}, {60, 48, 76}};
    for (const Case& c : cases) {
        channel.panning = c.panning;
        channel.panEnvPanning = c.envelope;
        channel.updateFlags = UpdatePanning;
        UpdateVoice(&channel, &sample, &song);
        EXPECT_EQ(channel.voice->panning, c.expected) << c.panning << " " << c.envelope;
    }
}

TEST_F(PlayerRoutines, TwoQuickStartsAlternateBetweenTheVoicePair)
{
    channel.voice = &MixVoices[3];
    // A start on an idle voice stays there.
    channel.updateFlags = UpdateStart;
    UpdateVoice(&channel, &sample, &song);
    EXPECT_EQ(channel.voice, &MixVoices[3]);
    EXPECT_EQ(MixVoices[3].sample, &sample);

    // Sounding: the next start moves to voice 35, which takes the pending offset; voice 3 fades.
    MixVoices[3].positionInt = 40;
    MixVoices[3].volume = 100;
    MixVoices[3].volumeLeft = 50;
    MixVoices[3].volumeRight = 50;
    MixVoices[3].currentVolumeLeft = 50 * 256;
    MixVoices[3].startOffset = 20;
    Sample second = sample;
    channel.updateFlags = UpdateStart;
    UpdateVoice(&channel, &second, &song);
    EXPECT_EQ(channel.voice, &MixVoices[35]);
    EXPECT_EQ(MixVoices[35].slot, 35);
    EXPECT_EQ(MixVoices[35].sample, &second);
    EXPECT_EQ(MixVoices[35].positionInt, 20u);
    EXPECT_EQ(MixVoices[35].startOffset, 0u);
    EXPECT_EQ(MixVoices[35].currentVolumeLeft, 0);
    EXPECT_EQ(MixVoices[35].volume, 100);  // the targets are carried over until a volume hand-over
    EXPECT_EQ(MixVoices[3].sample, &sample);
    EXPECT_EQ(MixVoices[3].positionInt, 40u);
    EXPECT_EQ(MixVoices[3].volume, 0);
    EXPECT_EQ(MixVoices[3].volumeLeft, 0);
    EXPECT_EQ(MixVoices[3].volumeRight, 0);
    EXPECT_EQ(MixVoices[3].currentVolumeLeft, 50 * 256);

    // The second start goes back to voice 3, overwriting what still fades there.
    channel.updateFlags = UpdateStart;
    UpdateVoice(&channel, &sample, &song);
    EXPECT_EQ(channel.voice, &MixVoices[3]);
    EXPECT_EQ(MixVoices[3].slot, 3);
    EXPECT_EQ(MixVoices[3].sample, &sample);
    EXPECT_EQ(MixVoices[3].positionInt, 0u);
}

TEST_F(PlayerRoutines, StartOffsetPastTheEndStartsAtZeroAndRestartRunsForward)
{
    MixVoices[0].startOffset = 100;  // = loopStart + loopLength
    channel.updateFlags = UpdateStart;
    UpdateVoice(&channel, &sample, &song);
    EXPECT_EQ(MixVoices[0].positionInt, 0u);

    MixVoices[0].positionInt = 77;
    MixVoices[0].positionFrac = 5;
    MixVoices[0].direction = DirBackward;
    MixVoices[0].rampFramesLeft = 9;
    channel.updateFlags = UpdateRestart;
    UpdateVoice(&channel, &sample, &song);
    EXPECT_EQ(MixVoices[0].positionInt, 0u);
    EXPECT_EQ(MixVoices[0].positionFrac, 0u);
    EXPECT_EQ(MixVoices[0].direction, DirForward);
    EXPECT_EQ(MixVoices[0].rampFramesLeft, 9);  // the gain ramp is left alone
    EXPECT_EQ(channel.voice, &MixVoices[0]);
}

TEST_F(PlayerRoutines, VibratoDepthAndWaveforms)
{
    channel.vibratoDepth = 15;
    channel.vibratoPos = 16;
    Vibrato(&channel);
    EXPECT_EQ(channel.periodDelta, -116);
    channel.vibratoPos = -16;
    Vibrato(&channel);
    EXPECT_EQ(channel.periodDelta, 116);
    channel.vibratoPos = 0;
    Vibrato(&channel);
    EXPECT_EQ(channel.periodDelta, 0);
    EXPECT_NE(channel.updateFlags & UpdatePitch, 0);
    // Ramp: 8 x 10 = 80 -> (80 x 15) >> 5 = 37 -> 36.
    channel.waveControl = 1;
    channel.vibratoPos = 10;
    Vibrato(&channel);
    EXPECT_EQ(channel.periodDelta, -36);
    // Ramp below 0: 255 - 8 x 2 = 239 -> 112.
    channel.vibratoPos = -30;
    Vibrato(&channel);
    EXPECT_EQ(channel.periodDelta, 112);
    // The position wraps from above 31 by 64.
    channel.vibratoSpeed = 15;
    channel.vibratoPos = 20;
    MoveVibrato(&channel);
    EXPECT_EQ(channel.vibratoPos, -29);
}

TEST_F(PlayerRoutines, VibratoSineTableAsTheWaveform)
{
    const int32_t expected[32] = {0,   25,  49,  74,  97,  120, 142, 162, 181, 197, 212, 225, 236, 244, 251, 254,
                                  255, 254, 251, 244, 236, 225, 212, 197, 181, 162, 142, 120, 97,  74,  49,  25};
    channel.tremoloDepth = 64;  // d = w exactly
    channel.volume = 0;
    for (int32_t p = 0; p < 32; p++) {
        channel.tremoloPos = static_cast<int8_t>(p);
        channel.volume = -1000;  // keeps the upper limit out of the way
        Tremolo(&channel);
        EXPECT_EQ(channel.volumeDelta, expected[p]) << p;
    }
}

TEST_F(PlayerRoutines, TremoloStaysWithinTheVolumeRange)
{
    channel.waveControl = 0x20;  // square: 255
    channel.tremoloDepth = 3;    // (3 x 255) >> 6 = 11
    channel.tremoloSpeed = 4;
    channel.volume = 60;
    channel.tremoloPos = 5;
    Tremolo(&channel);
    EXPECT_EQ(channel.volumeDelta, 4);
    EXPECT_EQ(channel.tremoloPos, 9);
    channel.volume = 3;
    channel.tremoloPos = -5;
    Tremolo(&channel);
    EXPECT_EQ(channel.volumeDelta, -3);
    channel.volume = 30;
    channel.tremoloPos = -5;
    Tremolo(&channel);
    EXPECT_EQ(channel.volumeDelta, -11);
    EXPECT_NE(channel.updateFlags & UpdateVolume, 0);
}

TEST_F(PlayerRoutines, TremorCountsOnAndOffTicks)
{
    channel.volume = 40;
    channel.tremorOn = 2;
    channel.tremorOff = 1;
    std::vector<int32_t> deltas;
    for (int k = 0; k < 6; k++) {
        channel.volumeDelta = 0;
        Tremor(&channel);
        deltas.push_back(channel.volumeDelta);
    }
    EXPECT_EQ(deltas, (std::vector<int32_t>{0, 0, -40, 0, 0, -40}));
    // 0/0 silences every tick.
    channel.tremorOn = 0;
    channel.tremorOff = 0;
    channel.tremorCount = 0;
    for (int k = 0; k < 3; k++) {
        channel.volumeDelta = 0;
        Tremor(&channel);
        EXPECT_EQ(channel.volumeDelta, -40);
    }
}

TEST_F(PlayerRoutines, TonePortamentoStopsAtTheTarget)
{
    channel.period = 4608;
    channel.portaTarget = 4500;
    channel.portaSpeed = 10;
    TonePortaStep(&channel);
    EXPECT_EQ(channel.period, 4568);
    TonePortaStep(&channel);
    TonePortaStep(&channel);
    EXPECT_EQ(channel.period, 4500);
    channel.portaTarget = 4510;
    TonePortaStep(&channel);
    EXPECT_EQ(channel.period, 4510);
}

TEST_F(PlayerRoutines, AutoVibratoSweepAndWaveforms)
{
    Instrument instrument{};
    instrument.vibratoType = 1;  // square: +64 for positions below 128
    instrument.vibratoDepth = 8;
    instrument.vibratoRate = 100;
    // Sweep 0: full depth on the first tick, (8 x 64) >> 6 = 8.
    channel.periodDelta = 0;
    AutoVibrato(&channel, &instrument);
    EXPECT_EQ(channel.periodDelta, 8);
    EXPECT_EQ(channel.autoVibratoPos, 100);
    AutoVibrato(&channel, &instrument);
    AutoVibrato(&channel, &instrument);  // 200 -> 300 - 256
    EXPECT_EQ(channel.autoVibratoPos, 44);

    // Sweep 10: 0 on the tick of the instrument start, rising, full from the eleventh tick on.
    instrument.vibratoSweep = 10;
    instrument.vibratoRate = 0;
    StartInstrument(&channel, &sample);
    std::vector<int32_t> deltas;
    for (int k = 0; k < 12; k++) {
        channel.periodDelta = 0;
        AutoVibrato(&channel, &instrument);
        deltas.push_back(channel.periodDelta);
    }
    EXPECT_EQ(deltas, (std::vector<int32_t>{0, 0, 1, 2, 3, 4, 4, 5, 6, 7, 8, 8}));
    EXPECT_NE(channel.updateFlags & UpdatePitch, 0);

    // Ramp shapes at their turning points, and no waveform above type 3.
    struct Case {
        uint8_t type;
        int32_t position, expected;
    } cases[] = {{2, 0, 0}, {2, 127, -32}, {2, 128, 32}, {2, 255, 0}, {3, 1, 0}, {3, 127, 31}, {3, 128, 32},
                 {3, 129, -32}, {0, 64, 31}, {0, 192, -32}, {7, 64, 0}};
    instrument.vibratoSweep = 0;
    instrument.vibratoDepth = 32;  // x >> 6 halves the waveform
    for (const Case& c : cases) {
        instrument.vibratoType = c.type;
        channel.autoVibratoPos = c.position;
        channel.periodDelta = 0;
        channel.updateFlags = 0;
        AutoVibrato(&channel, &instrument);
        EXPECT_EQ(channel.periodDelta, c.expected) << int(c.type) << " " << c.position;
        EXPECT_NE(channel.updateFlags & UpdatePitch, 0);
    }
}

TEST_F(PlayerRoutines, AutoVibratoSineRunsToPlusAndMinus63)
{
    Instrument instrument{};
    instrument.vibratoDepth = 64;  // x >> 6 gives the table value itself
    int32_t highest = -100, lowest = 100;
    std::vector<int32_t> firsts;
    for (int32_t p = 0; p < 256; p++) {
        channel.autoVibratoPos = p;
        channel.periodDelta = 0;
        AutoVibrato(&channel, &instrument);
        highest = std::max(highest, channel.periodDelta);
        lowest = std::min(lowest, channel.periodDelta);
        if (p < 12) {
            firsts.push_back(channel.periodDelta);
        }
        if (p == 128) {
            EXPECT_EQ(channel.periodDelta, 0);
        }
        if (p == 129 || p == 255) {
            EXPECT_EQ(channel.periodDelta, -1);
        }
        if (p >= 57 && p <= 71) {
            EXPECT_EQ(channel.periodDelta, 63) << p;
        }
    }
    EXPECT_EQ(highest, 63);
    EXPECT_EQ(lowest, -63);
    EXPECT_EQ(firsts, (std::vector<int32_t>{0, 1, 3, 4, 6, 7, 9, 10, 12, 14, 15, 17}));
}

class PlayerEnvelope : public PlayerRoutines {
protected:
    // Points (0, 0) (4, 64) (8, 32) (12, 48).
    void SetUp() override
    {
        PlayerRoutines::SetUp();
        instrument = Instrument{};
        const EnvelopePoint points[4] = {{0, 0}, {4, 64}, {8, 32}, {12, 48}};
        for (int k = 0; k < 4; k++) {
            instrument.volumeEnvelope[k] = points[k];
        }
        instrument.volumePointCount = 4;
        instrument.volumeEnvelopeFlags = 1;
        StartInstrument(&channel, &sample);
    }

    std::vector<int32_t> Run(int ticks)
    {
        std::vector<int32_t> outputs;
        for (int k = 0; k < ticks; k++) {
            if (channel.volEnvDone == 0) {
                StepVolumeEnvelope(&channel, &instrument);
            }
            outputs.push_back(channel.volEnvVolume);
        }
        return outputs;
    }

    Instrument instrument{};
};

TEST_F(PlayerEnvelope, RunsToItsLastPointAndStays)
{
    EXPECT_EQ(Run(16), (std::vector<int32_t>{0, 16, 32, 48, 64, 56, 48, 40, 32, 36, 40, 44, 48, 48, 48, 48}));
    EXPECT_EQ(channel.volEnvDone, 1);
    EXPECT_NE(channel.updateFlags & UpdateVolume, 0);
}

TEST_F(PlayerEnvelope, HoldsAtTheSustainPointUntilKeyOff)
{
    instrument.volumeEnvelopeFlags = 1 | 2;
    instrument.volumeSustain = 1;
    EXPECT_EQ(Run(8), (std::vector<int32_t>{0, 16, 32, 48, 64, 64, 64, 64}));
    channel.keyOff = 1;
    EXPECT_EQ(Run(5), (std::vector<int32_t>{64, 56, 48, 40, 32}));
}

TEST_F(PlayerEnvelope, LoopsBetweenItsLoopPoints)
{
    instrument.volumeEnvelopeFlags = 1 | 4;
    instrument.volumeLoopStart = 1;
    instrument.volumeLoopEnd = 2;
    EXPECT_EQ(Run(14), (std::vector<int32_t>{0, 16, 32, 48, 64, 56, 48, 40, 64, 56, 48, 40, 64, 56}));
    EXPECT_EQ(channel.volEnvDone, 0);
}

TEST_F(PlayerEnvelope, PointsOutOfOrderGiveAFlatSegment)
{
    instrument.volumeEnvelope[1] = {0, 64};  // same tick as point 0
    instrument.volumeEnvelope[2] = {10, 40};
    std::vector<int32_t> outputs = Run(4);
    EXPECT_EQ(outputs[0], 0);
    // Point 1 lies behind the tick already reached: the value stays flat instead of running away.
    for (int k = 0; k < 3000; k++) {
        StepVolumeEnvelope(&channel, &instrument);
    }
    EXPECT_EQ(channel.volEnvVolume, 0);
}

TEST_F(PlayerEnvelope, APointBehindThePreviousOneGivesAFlatSegment)
{
    instrument.volumeEnvelope[2] = {2, 32};  // 2 ticks before point 1: a gap of -2
    EXPECT_EQ(Run(6), (std::vector<int32_t>{0, 16, 32, 48, 64, 64}));
    // The envelope never meets point 2's tick again: it holds at point 1 instead of climbing by 16 a tick.
    for (int k = 0; k < 3000; k++) {
        StepVolumeEnvelope(&channel, &instrument);
    }
    EXPECT_EQ(channel.volEnvVolume, 64);
    EXPECT_EQ(channel.volEnvStep, 0);
}

TEST_F(PlayerRoutines, InstrumentStartResetsTheTrack)
{
    sample.volume = 48;
    sample.panning = 200;
    channel.keyOff = 1;
    channel.fadeoutVolume = 10;
    channel.vibratoPos = 12;
    channel.tremoloPos = -7;
    channel.tremorCount = 3;
    channel.volEnvValue = 12345;
    channel.waveControl = 0x40;  // tremolo position kept, vibrato position reset
    StartInstrument(&channel, &sample);
    EXPECT_EQ(channel.volume, 48);
    EXPECT_EQ(channel.panning, 200);
    EXPECT_EQ(channel.volEnvVolume, 64);
    EXPECT_EQ(channel.panEnvPanning, 32);
    EXPECT_EQ(channel.keyOff, 0);
    EXPECT_EQ(channel.fadeoutVolume, 65536);
    EXPECT_EQ(channel.vibratoPos, 0);
    EXPECT_EQ(channel.tremoloPos, -7);
    EXPECT_EQ(channel.tremorCount, 0);
    EXPECT_EQ(channel.volEnvValue, 12345);
    EXPECT_EQ(channel.updateFlags, UpdateVolume | UpdatePanning);
}

TEST_F(PlayerRoutines, VolumeColumnAtTheRowStart)
{
    struct Case {
        uint8_t byte;
        int32_t volume, panning;
        uint8_t flags;
    } cases[] = {
        {0x10, 0, 100, UpdateVolume},  {0x50, 64, 100, UpdateVolume}, {0x55, 30, 100, 0},
        {0x05, 30, 100, 0},            {0x63, 27, 100, UpdateVolume}, {0x8F, 15, 100, UpdateVolume},
        {0x7F, 45, 100, UpdateVolume}, {0x9F, 45, 100, UpdateVolume}, {0xC3, 30, 48, UpdatePanning},
        {0xD5, 30, 95, UpdatePanning}, {0xEF, 30, 115, UpdatePanning},
    };
    for (const Case& c : cases) {
        channel.volume = 30;
        channel.panning = 100;
        channel.updateFlags = 0;
        ApplyVolumeColumn(&channel, c.byte);
        EXPECT_EQ(channel.volume, c.volume) << std::hex << int(c.byte);
        EXPECT_EQ(channel.panning, c.panning) << std::hex << int(c.byte);
        EXPECT_EQ(channel.updateFlags, c.flags) << std::hex << int(c.byte);
    }
    channel.volume = 3;
    ApplyVolumeColumn(&channel, 0x69);
    EXPECT_EQ(channel.volume, 0);
    ApplyVolumeColumn(&channel, 0xA7);
    ApplyVolumeColumn(&channel, 0xB9);
    EXPECT_EQ(channel.vibratoSpeed, 7);
    EXPECT_EQ(channel.vibratoDepth, 9);
    // Tone portamento: speed 16 x, target the note's period, no start.
    channel.notePeriod = 4000;
    channel.updateFlags = UpdateStart | UpdatePitch;
    ApplyVolumeColumn(&channel, 0xF2);
    EXPECT_EQ(channel.portaSpeed, 32);
    EXPECT_EQ(channel.portaTarget, 4000);
    EXPECT_EQ(channel.updateFlags, UpdatePitch);
    ApplyVolumeColumn(&channel, 0xF0);
    EXPECT_EQ(channel.portaSpeed, 32);
    // Panning slides stop far outside the audible range instead of overflowing.
    channel.panning = SlideLimit - 3;
    ApplyVolumeColumn(&channel, 0xEF);
    EXPECT_EQ(channel.panning, SlideLimit);
}

TEST_F(PlayerRoutines, SampleSelection)
{
    Instrument instruments[2]{};
    Sample own{};
    instruments[1].sampleCount = 1;
    for (int k = 0; k < MaxSamplesPerInstrument; k++) {
        instruments[1].samples[k] = &EmptySample;
    }
    instruments[1].samples[0] = &own;
    instruments[1].sampleMap[40] = 0;
    instruments[1].sampleMap[41] = 3;
    instruments[1].sampleMap[42] = 16;
    song.instruments = instruments;
    song.instrumentCount = 2;
    Instrument* chosen = nullptr;
    EXPECT_EQ(SelectSample(&song, 1, 40, &chosen), &own);
    EXPECT_EQ(chosen, &instruments[1]);
    EXPECT_EQ(SelectSample(&song, 1, 41, &chosen), &EmptySample);
    EXPECT_EQ(SelectSample(&song, 1, 42, &chosen), &EmptySample);
    EXPECT_EQ(SelectSample(&song, 1, 96, &chosen), &EmptySample);  // beyond the map
    EXPECT_EQ(SelectSample(&song, 1, 200, &chosen), &EmptySample);
    EXPECT_EQ(SelectSample(&song, 2, 40, &chosen), &EmptySample);
    EXPECT_EQ(chosen, &EmptyInstrument);
}

}  // namespace
