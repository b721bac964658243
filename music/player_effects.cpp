// The effect routines both halves of a row share: vibrato, tremolo, tremor, the tone-portamento step, the
// row-start volume column, and the choice of instrument and sample for a track.
#include "music/music.h"

#include <cmath>
#include <cstdint>

// Vibrato and tremolo sine magnitude over a half period, indexed by |position| mod 32. The constant lies
// slightly below pi / 64, so the peak is 255. Built once before main.
static uint8_t vibratoSine[32];

static void BuildVibratoSine()
{
    for (int32_t p = 0; p < 32; p++) {
        vibratoSine[p] = static_cast<uint8_t>(std::fabs(std::sin(2.0 * p * 0.049087375)) * 256.0);
    }
}

static const bool vibratoSineBuilt = (BuildVibratoSine(), true);

int32_t LimitSlide(int64_t value)
{
    if (value > SlideLimit) {
        return SlideLimit;
    }
    if (value < -SlideLimit) {
        return -SlideLimit;
    }
    return static_cast<int32_t>(value);
}

// Waveform value of a vibrato or tremolo position (-32..31) for waveform numbers 0 sine, 1 ramp, 2 square.
static int32_t Wave(int32_t waveform, int32_t position)
{
    (void)vibratoSineBuilt;
    switch (waveform) {
    case 0:
        return vibratoSine[(position < 0 ? -position : position) % 32];
    case 1:
        return position >= 0 ? 8 * position : 255 - 8 * (position + 32);
    default:
        return 255;
    }
}

// Positions run -32..31 as signed bytes: past 31 they wrap down by 64.
static int8_t AdvancePosition(int8_t position, uint8_t speed)
{
    int32_t next = position + speed;
    if (next > 31) {
        next -= 64;
    }
    return static_cast<int8_t>(next);
}

void Vibrato(MusicChannel* channel)
{
    int32_t waveform = channel->waveControl & 3;
    int32_t position = channel->vibratoPos;
    // A multiple of 4 period units, at most 116.
    int32_t depth = ((Wave(waveform, position) * channel->vibratoDepth) >> 5) & ~3;
    channel->periodDelta = position < 0 ? depth : -depth;
    channel->updateFlags |= UpdatePitch;
}

void MoveVibrato(MusicChannel* channel)
{
    channel->vibratoPos = AdvancePosition(channel->vibratoPos, channel->vibratoSpeed);
}

void Tremolo(MusicChannel* channel)
{
    int32_t waveform = (channel->waveControl >> 4) & 3;
    if (waveform == 3) {
        waveform = 0;
    }
    int32_t position = channel->tremoloPos;
    int32_t delta = (channel->tremoloDepth * Wave(waveform, position)) >> 6;
    // The volume with the offset stays within 0..64.
    if (position >= 0) {
        if (channel->volume + delta > 64) {
            delta = 64 - channel->volume;
        }
        channel->volumeDelta = delta;
    } else {
        if (channel->volume - delta < 0) {
            delta = channel->volume;
        }
        channel->volumeDelta = -delta;
    }
    channel->tremoloPos = AdvancePosition(channel->tremoloPos, channel->tremoloSpeed);
    channel->updateFlags |= UpdateVolume;
}

void Tremor(MusicChannel* channel)
{
    if (channel->tremorCount >= channel->tremorOn) {
        channel->volumeDelta = -channel->volume;
    }
    channel->tremorCount = static_cast<uint8_t>(channel->tremorCount + 1);
    if (channel->tremorCount >= channel->tremorOn + channel->tremorOff) {
        channel->tremorCount = 0;
    }
    channel->updateFlags |= UpdateVolume;
}

void TonePortaStep(MusicChannel* channel)
{
    int32_t step = 4 * channel->portaSpeed;
    if (channel->period < channel->portaTarget) {
        channel->period = channel->period + step > channel->portaTarget ? channel->portaTarget
                                                                          : channel->period + step;
    } else if (channel->period > channel->portaTarget) {
        channel->period = channel->period - step < channel->portaTarget ? channel->portaTarget
                                                                          : channel->period - step;
    }
    channel->updateFlags |= UpdatePitch;
}

void ApplyVolumeColumn(MusicChannel* channel, uint8_t volumeByte)
{
    int32_t x = volumeByte & 0x0F;
    switch (volumeByte >> 4) {
    case 0x1: case 0x2: case 0x3: case 0x4:
        channel->volume = volumeByte - 0x10;
        channel->updateFlags |= UpdateVolume;
        break;
    case 0x5:
        if (volumeByte == 0x50) {
            channel->volume = 64;
            channel->updateFlags |= UpdateVolume;
        }
        break;
    case 0x6: case 0x8:
        channel->volume = channel->volume - x < 0 ? 0 : channel->volume - x;
        channel->updateFlags |= UpdateVolume;
        break;
    case 0x7: case 0x9:
        channel->volume = channel->volume + x > 64 ? 64 : channel->volume + x;
        channel->updateFlags |= UpdateVolume;
        break;
    case 0xA:
        channel->vibratoSpeed = static_cast<uint8_t>(x);
        break;
    case 0xB:
        channel->vibratoDepth = static_cast<uint8_t>(x);
        break;
    case 0xC:
        channel->panning = 16 * x;
        channel->updateFlags |= UpdatePanning;
        break;
    case 0xD:
        channel->panning = LimitSlide(int64_t{channel->panning} - x);
        channel->updateFlags |= UpdatePanning;
        break;
    case 0xE:
        channel->panning = LimitSlide(int64_t{channel->panning} + x);
        channel->updateFlags |= UpdatePanning;
        break;
    case 0xF:
        if (x != 0) {
            channel->portaSpeed = static_cast<uint8_t>(16 * x);
        }
        channel->portaTarget = channel->notePeriod;
        channel->updateFlags &= static_cast<uint8_t>(~UpdateStart);
        break;
    default:
        break;  // 0x01..0x0F: nothing
    }
}

Sample* SelectSample(const Song* song, uint8_t instrumentIndex, uint8_t note, Instrument** instrument)
{
    if (instrumentIndex >= song->instrumentCount || song->instruments == nullptr) {
        *instrument = &EmptyInstrument;
        return &EmptySample;
    }
    Instrument* chosen = &song->instruments[instrumentIndex];
    *instrument = chosen;
    // Notes beyond the map (only a damaged cell gives one) and slots beyond 16 play nothing.
    if (note >= 96) {
        return &EmptySample;
    }
    uint8_t slot = chosen->sampleMap[note];
    if (slot >= MaxSamplesPerInstrument || chosen->samples[slot] == nullptr) {
        return &EmptySample;
    }
    return chosen->samples[slot];
}
