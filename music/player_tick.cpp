// The ticks of a row after the first: the envelopes and the fadeout move on, the volume column and the
// effect column continue on the cells that the row start read, and each track is handed to its voice.
#include "music/music.h"

#include <cstdint>

// The effect volume slide (A, and the slide half of 5 and 6): the up nibble wins.
static void VolumeSlide(MusicChannel* channel)
{
    int32_t up = channel->volumeSlide >> 4;
    int32_t down = channel->volumeSlide & 0x0F;
    if (up != 0) {
        channel->volume = channel->volume + up > 64 ? 64 : channel->volume + up;
    } else {
        channel->volume = channel->volume - down < 0 ? 0 : channel->volume - down;
    }
    channel->updateFlags |= UpdateVolume;
}

// The multi-retrigger volume change by retrigVolume; 0 and 8 keep the volume.
static void RetriggerVolume(MusicChannel* channel)
{
    int32_t v = channel->volume;
    switch (channel->retrigVolume) {
    case 0:
        return;  // no volume flag either
    case 1: v -= 1; break;
    case 2: v -= 2; break;
    case 3: v -= 4; break;
    case 4: v -= 8; break;
    case 5: v -= 16; break;
    case 6: v = v * 2 / 3; break;
    case 7: v >>= 1; break;
    case 8: break;
    case 9: v += 1; break;
    case 10: v += 2; break;
    case 11: v += 4; break;
    case 12: v += 8; break;
    case 13: v += 16; break;
    case 14: v = v * 3 / 2; break;
    case 15: v *= 2; break;
    default: return;
    }
    channel->volume = v < 0 ? 0 : (v > 64 ? 64 : v);
    channel->updateFlags |= UpdateVolume;
}

// Arpeggio: base, x, y semitones on ticks 0, 1, 2 modulo 3 of the row, measured from the note itself.
static void Arpeggio(const Song* song, MusicChannel* channel, const Sample* sample, uint8_t param)
{
    int32_t phase = song->tick % 3;
    int32_t offset = phase == 1 ? param >> 4 : (phase == 2 ? param & 0x0F : 0);
    if ((song->flags & 1) != 0) {
        channel->periodDelta = 64 * offset;
    } else {
        channel->periodDelta =
            AmigaPeriod(channel->realNote + offset, sample->finetune) - AmigaPeriod(channel->realNote, sample->finetune);
    }
    channel->updateFlags |= UpdatePitch;
}

// The later ticks of effect E, by x.
static void ExtendedOnTick(const Song* song, MusicChannel* channel, const Sample* sample, const NoteCell& cell)
{
    int32_t y = cell.param & 0x0F;
    switch (cell.param >> 4) {
    case 0x9:
        if (y != 0 && song->tick % y == 0) {
            channel->updateFlags |= UpdateStart | UpdatePitch | UpdateVolume;
        }
        break;
    case 0xC:
        if (song->tick == y) {
            channel->volume = 0;
            channel->updateFlags |= UpdateVolume;
        }
        break;
    case 0xD:
        if (song->tick == y) {
            // The delayed note: a fresh instrument state whether or not the cell named an instrument.
            StartInstrument(channel, sample);
            channel->period = channel->notePeriod;
            channel->updateFlags |= UpdatePitch;
            if (cell.volume != 0) {
                ApplyVolumeColumn(channel, cell.volume);
            }
            channel->updateFlags |= UpdateStart;
        } else {
            channel->updateFlags &= static_cast<uint8_t>(~(UpdatePitch | UpdateVolume | UpdatePanning | UpdateStart));
        }
        break;
    default:
        break;
    }
}

static void ProcessTrackTick(Song* song, const NoteCell& cell, MusicChannel* channel)
{
    Instrument* instrument = nullptr;
    Sample* sample = SelectSample(song, channel->instrument, channel->note, &instrument);
    channel->volumeDelta = 0;
    channel->periodDelta = 0;
    channel->updateFlags = 0;

    if ((instrument->volumeEnvelopeFlags & 1) != 0 && channel->volEnvDone == 0) {
        StepVolumeEnvelope(channel, instrument);
    }
    if ((instrument->panningEnvelopeFlags & 1) != 0 && channel->panEnvDone == 0) {
        StepPanningEnvelope(channel, instrument);
    }
    if (channel->keyOff != 0) {
        channel->fadeoutVolume = channel->fadeoutVolume - instrument->fadeout < 0 ? 0 : channel->fadeoutVolume - instrument->fadeout;
        channel->updateFlags |= UpdateVolume;
    }

    // The volume column's continuing half: slides act on every tick of the row.
    int32_t x = cell.volume & 0x0F;
    switch (cell.volume >> 4) {
    case 0x6:
        channel->volume = channel->volume - x < 0 ? 0 : channel->volume - x;
        channel->updateFlags |= UpdateVolume;
        break;
    case 0x7:
        channel->volume = channel->volume + x > 64 ? 64 : channel->volume + x;
        channel->updateFlags |= UpdateVolume;
        break;
    case 0xB:
        channel->vibratoDepth = static_cast<uint8_t>(x);
        Vibrato(channel);
        MoveVibrato(channel);
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
        TonePortaStep(channel);
        break;
    default:
        break;
    }

    uint8_t param = cell.param;
    switch (cell.effect) {
    case 0:
        if (param != 0) {
            Arpeggio(song, channel, sample, param);
        }
        break;
    case 1: {
        int64_t period = int64_t{channel->period} - 4 * channel->portaUpSpeed;
        channel->period = period < 56 ? 56 : static_cast<int32_t>(period);
        channel->updateFlags |= UpdatePitch;
        break;
    }
    case 2:
        channel->period = LimitSlide(int64_t{channel->period} + 4 * channel->portaDownSpeed);
        channel->updateFlags |= UpdatePitch;
        break;
    case 3:
        TonePortaStep(channel);
        break;
    case 4:
        Vibrato(channel);
        MoveVibrato(channel);
        break;
    case 5:
        TonePortaStep(channel);
        VolumeSlide(channel);
        break;
    case 6:
        Vibrato(channel);
        MoveVibrato(channel);
        VolumeSlide(channel);
        break;
    case 7:
        Tremolo(channel);
        break;
    case 10:
        VolumeSlide(channel);
        break;
    case 14:
        ExtendedOnTick(song, channel, sample, cell);
        break;
    case 17: {
        // The global volume reaches each track at its next volume hand-over; no flag is set here.
        int32_t up = song->globalVolumeSlide >> 4;
        int32_t down = song->globalVolumeSlide & 0x0F;
        if (up != 0) {
            song->globalVolume = song->globalVolume + up > 64 ? 64 : song->globalVolume + up;
        } else {
            song->globalVolume = song->globalVolume - down < 0 ? 0 : song->globalVolume - down;
        }
        break;
    }
    case 25: {
        int32_t up = channel->panningSlide >> 4;
        int32_t down = channel->panningSlide & 0x0F;
        if (up != 0) {
            channel->panning = channel->panning + up > 255 ? 255 : channel->panning + up;
        } else {
            channel->panning = channel->panning - down < 0 ? 0 : channel->panning - down;
        }
        channel->updateFlags |= UpdatePanning;
        break;
    }
    case 27:
        if (channel->retrigInterval != 0 && song->tick % channel->retrigInterval == 0) {
            RetriggerVolume(channel);
            channel->updateFlags |= UpdateStart;
        }
        break;
    case 29:
        Tremor(channel);
        break;
    default:
        break;  // every other effect acts at the row start only
    }

    AutoVibrato(channel, instrument);
    UpdateVoice(channel, sample, song);
}

void ProcessTick(Song* song)
{
    const NoteCell* cells = ModRowCells(song, song->rowRead);
    if (cells == nullptr) {
        return;
    }
    int32_t tracks = song->channelCount < MaxChannels ? song->channelCount : MaxChannels;
    for (int32_t k = 0; k < tracks; k++) {
        ProcessTrackTick(song, cells[k], &MusicChannels[k]);
    }
}
