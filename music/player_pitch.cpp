// Periods and the hand-over of a track to its mixer voice: the Amiga period table, the frequency of a period
// in either scale, the voice pairs that let an old note fade while a new one starts, and the final volume
// and panning split into the two output gains.
#include "music/music.h"
#include "sound/sound.h"

#include <cmath>
#include <cstdint>

// P(n) for n = 0 .. AmigaTableTopNote + 1 (the finetune interpolation reads the note above the top one).
// Built once before main; read-only afterwards, so the streaming thread only looks values up.
static int32_t amigaTable[AmigaTableTopNote + 2];

static void BuildAmigaTable()
{
    // 1/12 as the nearest single-precision value: with the exact 1/12 some periods come out one higher.
    const double k12 = static_cast<double>(1.0f / 12.0f);
    for (int32_t k = 0; k <= AmigaTableTopNote + 1; k++) {
        amigaTable[k] = static_cast<int32_t>(13.375 * std::pow(2.0, static_cast<double>(132 - k) * k12));
    }
}

static const bool amigaTableBuilt = (BuildAmigaTable(), true);

int32_t AmigaPeriod(int32_t note, int32_t finetune)
{
    (void)amigaTableBuilt;
    if (note < 0) {
        note = 0;
    } else if (note > AmigaTableTopNote) {
        note = AmigaTableTopNote;
    }
    int32_t c = amigaTable[note];
    if (finetune < 0 && note != 0) {
        return c + ((c - amigaTable[note - 1]) * -finetune) / -128;
    }
    return c + ((c - amigaTable[note + 1]) * finetune) / -128;
}

// The voice that takes over a track's next start while this one fades: voices 32..63 pair with 0..31.
static MixVoice* PartnerVoice(const MixVoice* voice)
{
    int32_t slot = voice->slot;
    if (slot < 0 || slot >= 2 * MaxChannels) {
        return nullptr;
    }
    return &MixVoices[slot < MaxChannels ? slot + MaxChannels : slot - MaxChannels];
}

// Frequency in Hz for the mixer step, already raised to the 100 Hz floor and held below 256 frames per
// output frame (a larger step would break the mixer's boundary arithmetic).
static int64_t VoiceFrequency(const MusicChannel* channel, const Song* song, int32_t rate)
{
    int64_t frequency;
    if ((song->flags & 1) != 0) {
        // 1/768 as the nearest single-precision value, the power in double: with k768 in single precision
        // throughout, 1,374 exponents would give another integer.
        const double k768 = static_cast<double>(1.0f / 768.0f);
        int64_t exponent = int64_t{4608} - channel->period + channel->periodDelta;
        double f = 8363.0 * std::pow(2.0, static_cast<double>(exponent) * k768);
        // What does not fit in 32 bits counts as below the floor, as it did when the product was converted.
        frequency = (std::isfinite(f) && f < 2147483648.0) ? static_cast<int64_t>(f) : 0;
    } else {
        // 14317056, not 8363 x 1712: period 1712 plays at 8362 Hz.
        frequency = 14317056 / (channel->period + channel->periodDelta);
    }
    if (frequency < 100) {
        frequency = 100;
    }
    int64_t ceiling = int64_t{256} * rate - 1;
    if (frequency > ceiling) {
        frequency = ceiling;
    }
    return frequency;
}

// Splits a final volume at a panning into the two target gains: 0 is left, 255 is right.
static void SplitVolume(MixVoice* voice)
{
    voice->volumeRight = voice->volume * voice->panning / 255;
    voice->volumeLeft = (255 - voice->panning) * voice->volume / 255;
}

void UpdateVoice(MusicChannel* channel, Sample* sample, Song* song)
{
    MixVoice* voice = channel->voice;
    if (voice == nullptr || song == nullptr) {
        return;
    }
    if (sample == nullptr) {
        sample = &EmptySample;
    }
    // A track that never had a note leaves the voice's step alone (and no Amiga division by zero).
    if (static_cast<int64_t>(channel->period) + channel->periodDelta == 0) {
        channel->updateFlags &= static_cast<uint8_t>(~UpdatePitch);
    }

    if ((channel->updateFlags & UpdateStart) != 0) {
        MixVoice* partner = PartnerVoice(voice);
        if (voice->sample != nullptr && partner != nullptr) {
            // The sounding note keeps playing here while the mixer ramps it down to silence; the track
            // moves to the partner, which takes over the pending start offset and starts the new note.
            *partner = *voice;
            partner->slot = static_cast<int32_t>(partner - MixVoices);
            voice->volume = 0;
            voice->volumeLeft = 0;
            voice->volumeRight = 0;
            channel->voice = partner;
            voice = partner;
        }
        voice->sample = sample;
        if (voice->startOffset >= static_cast<uint64_t>(sample->loopStart) + sample->loopLength) {
            voice->startOffset = 0;
        }
        voice->positionInt = voice->startOffset;
        voice->positionFrac = 0;
        voice->direction = DirForward;
        voice->startOffset = 0;
        voice->currentVolumeLeft = 0;
        voice->currentVolumeRight = 0;
        voice->rampFramesLeft = 0;
    }

    if ((channel->updateFlags & UpdateVolume) != 0) {
        // The product of the four integers exceeds 32 bits; 255 / 2^35 is exact in double.
        double product = static_cast<double>(channel->volume + channel->volumeDelta) * channel->volEnvVolume *
                         channel->fadeoutVolume * song->globalVolume * (255.0 / 34359738368.0);
        voice->volume = static_cast<int32_t>(product);
        SplitVolume(voice);
    }

    if ((channel->updateFlags & UpdatePanning) != 0) {
        // The envelope swings the panning by up to 128 at the centre, less toward the edges.
        int32_t distance = channel->panning - 128;
        if (distance < 0) {
            distance = -distance;
        }
        int32_t swing = (128 - distance) / 32;
        int64_t panning = channel->panning + int64_t{swing} * (channel->panEnvPanning - 32);
        if (panning < 0) {
            panning = 0;
        } else if (panning > 255) {
            panning = 255;
        }
        voice->panning = static_cast<int32_t>(panning);
        SplitVolume(voice);
    }

    if ((channel->updateFlags & UpdatePitch) != 0 && OutputRate > 0) {
        uint64_t frequency = static_cast<uint64_t>(VoiceFrequency(channel, song, OutputRate));
        uint64_t rate = static_cast<uint64_t>(OutputRate);
        voice->speedInt = static_cast<uint32_t>(frequency / rate);
        voice->speedFrac = static_cast<uint32_t>(((frequency % rate) << 32) / rate);
    }

    if ((channel->updateFlags & UpdateRestart) != 0) {
        // A sample offset past the end: the sounding sample starts over, forward, without a new ramp.
        voice->positionInt = 0;
        voice->positionFrac = 0;
        voice->startOffset = 0;
        voice->direction = DirForward;
    }
}
