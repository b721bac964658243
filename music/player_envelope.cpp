// The per-tick envelope stepper, the instrument start that rewinds the envelopes, and the instrument's
// auto-vibrato. Envelope values are 16.16 fixed point; outputs are 0..64.
#include "music/music.h"

#include <cmath>
#include <cstdint>

// Auto-vibrato sine, 0..255 for one period, peaks at +-63. Built once before main.
static int8_t autoVibratoSine[256];

static void BuildAutoVibratoSine()
{
    // The step as the nearest single-precision value (slightly below 2 pi / 256), so the peak is 63.
    const double step = static_cast<double>(0.0245436877f);
    for (int32_t p = 0; p < 256; p++) {
        autoVibratoSine[p] = static_cast<int8_t>(std::sin(p * step) * 64.0);
    }
}

static const bool autoVibratoSineBuilt = (BuildAutoVibratoSine(), true);

// 32-bit wrapping addition: a slope that never meets its point (a hostile envelope) must not overflow.
static int32_t WrapAdd(int32_t a, int32_t b)
{
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

int32_t EnvelopeSlope(const EnvelopePoint& from, const EnvelopePoint& to)
{
    int32_t gap = static_cast<int32_t>(to.tick) - static_cast<int32_t>(from.tick);
    if (gap <= 0) {
        return 0;
    }
    int64_t rise = (static_cast<int64_t>(to.value) - static_cast<int64_t>(from.value)) * 65536;
    return static_cast<int32_t>(rise / gap);
}

void StepEnvelope(MusicChannel* channel, int32_t* point, int32_t* tick, int32_t* value, int32_t* output,
                  int32_t* slope, uint8_t* done, const EnvelopePoint* points, int32_t pointCount, uint8_t flags,
                  uint8_t sustain, uint8_t loopStart, uint8_t loopEnd, uint8_t flagBit)
{
    if (pointCount > 12) {
        pointCount = 12;
    }
    int32_t i = *point;
    channel->updateFlags |= flagBit;
    if (i < 0 || i >= pointCount) {
        *output = *value >> 16;
        *tick = WrapAdd(*tick, 1);
        return;
    }
    if (*tick != points[i].tick) {
        // Between points: follow the segment's slope.
        *value = WrapAdd(*value, *slope);
        *output = *value >> 16;
        *tick = WrapAdd(*tick, 1);
        return;
    }
    // The envelope has reached point i. The loop test comes before the sustain test, so a sustain point
    // that is also the loop end is passed over unless the loop starts there.
    if ((flags & 4) != 0 && i == loopEnd && loopStart < pointCount) {
        i = loopStart;
        *point = i;
        *tick = points[i].tick;
    }
    if (i == pointCount - 1) {
        *output = points[i].value;
        *done = 1;
        return;
    }
    if ((flags & 2) != 0 && i == sustain && channel->keyOff == 0) {
        // Held here, tick unchanged, until the key is released.
        *output = points[i].value;
        return;
    }
    *slope = EnvelopeSlope(points[i], points[i + 1]);
    *value = static_cast<int32_t>(points[i].value) * 65536;
    *point = i + 1;
    *output = *value >> 16;
    *tick = WrapAdd(*tick, 1);
}

void StepVolumeEnvelope(MusicChannel* channel, const Instrument* instrument)
{
    StepEnvelope(channel, &channel->volEnvPoint, &channel->volEnvTick, &channel->volEnvValue,
                 &channel->volEnvVolume, &channel->volEnvStep, &channel->volEnvDone, instrument->volumeEnvelope,
                 instrument->volumePointCount, instrument->volumeEnvelopeFlags, instrument->volumeSustain,
                 instrument->volumeLoopStart, instrument->volumeLoopEnd, UpdateVolume);
}

void StepPanningEnvelope(MusicChannel* channel, const Instrument* instrument)
{
    StepEnvelope(channel, &channel->panEnvPoint, &channel->panEnvTick, &channel->panEnvValue,
                 &channel->panEnvPanning, &channel->panEnvStep, &channel->panEnvDone, instrument->panningEnvelope,
                 instrument->panningPointCount, instrument->panningEnvelopeFlags, instrument->panningSustain,
                 instrument->panningLoopStart, instrument->panningLoopEnd, UpdatePanning);
}

void StartInstrument(MusicChannel* channel, const Sample* sample)
{
    channel->volume = sample->volume;
    channel->panning = sample->panning;
    channel->volEnvVolume = 64;
    channel->volEnvTick = 0;
    channel->volEnvPoint = 0;
    channel->volEnvStep = 0;
    channel->volEnvDone = 0;
    channel->panEnvPanning = 32;
    channel->panEnvTick = 0;
    channel->panEnvPoint = 0;
    channel->panEnvStep = 0;
    channel->panEnvDone = 0;
    channel->keyOff = 0;
    channel->fadeoutVolume = 65536;
    channel->autoVibratoSweep = 0;
    channel->autoVibratoPos = 0;
    // A waveform number of 4 or more keeps its position across notes.
    if ((channel->waveControl & 0x0F) < 4) {
        channel->vibratoPos = 0;
    }
    if ((channel->waveControl >> 4) < 4) {
        channel->tremoloPos = 0;
    }
    channel->tremorCount = 0;
    channel->updateFlags |= UpdateVolume | UpdatePanning;
}

// The auto-vibrato waveform at position p (0..255); a type without a waveform gives 0.
static int32_t AutoVibratoWave(uint8_t type, int32_t p)
{
    switch (type) {
    case 0:
        return autoVibratoSine[p];
    case 1:
        return p < 128 ? 64 : -64;
    case 2:
        return (128 - ((p + 128) % 256)) >> 1;
    case 3:
        return (128 - ((384 - p) % 256)) >> 1;
    default:
        return 0;
    }
}

void AutoVibrato(MusicChannel* channel, const Instrument* instrument)
{
    (void)autoVibratoSineBuilt;
    int32_t wave = AutoVibratoWave(instrument->vibratoType, channel->autoVibratoPos & 255);
    int32_t x = instrument->vibratoDepth * wave;
    if (instrument->vibratoSweep != 0) {
        // The depth rises linearly over vibratoSweep ticks from the instrument start.
        x = channel->autoVibratoSweep * x / instrument->vibratoSweep;
    }
    channel->periodDelta += x >> 6;
    channel->autoVibratoSweep += 1;
    if (channel->autoVibratoSweep > instrument->vibratoSweep) {
        channel->autoVibratoSweep = instrument->vibratoSweep;
    }
    channel->autoVibratoPos += instrument->vibratoRate;
    if (channel->autoVibratoPos > 255) {
        channel->autoVibratoPos -= 256;
    }
    // Every track hands its pitch over on every tick.
    channel->updateFlags |= UpdatePitch;
}
