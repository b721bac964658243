// The song's clock and the first tick of every row: ModUpdateTick moves the song to its next row and order
// position, and ProcessRow reads one cell per track, starts notes and instruments, applies the volume column
// and the row-start half of every effect, steps the envelopes and hands each track to its voice.
#include "music/music.h"
#include "sound/sound.h"

#include <cstdint>

// A row that lies outside its pattern (a break past the end of a shorter pattern) plays as this row.
static const NoteCell emptyRow[MaxChannels] = {};

// The pattern at an order position, or null when the position or its pattern number lies outside the song.
static const Pattern* PatternAt(const Song* song, int32_t orderPos)
{
    if (song->patterns == nullptr || orderPos < 0 || orderPos >= 256) {
        return nullptr;
    }
    int32_t number = song->orders[orderPos];
    if (number >= song->patternSlotCount) {
        return nullptr;
    }
    return &song->patterns[number];
}

static int32_t TrackCount(const Song* song)
{
    return song->channelCount < MaxChannels ? song->channelCount : MaxChannels;
}

const NoteCell* ModRowCells(const Song* song, int32_t row)
{
    const Pattern* pattern = PatternAt(song, song->orderPos);
    if (pattern == nullptr || pattern->cells == nullptr || TrackCount(song) <= 0) {
        return nullptr;
    }
    if (row < 0 || row >= pattern->rowCount) {
        return emptyRow;
    }
    return pattern->cells + static_cast<int64_t>(row) * song->channelCount;
}

// Effect L: moves the volume envelope to tick q, replacing what this row's step gave.
static void SetEnvelopePosition(MusicChannel* channel, const Instrument* instrument, int32_t q)
{
    if ((instrument->volumeEnvelopeFlags & 1) == 0) {
        return;
    }
    const EnvelopePoint* points = instrument->volumeEnvelope;
    int32_t count = instrument->volumePointCount > 12 ? 12 : instrument->volumePointCount;
    if (count > 0 && q < points[0].tick) {
        // Before its first point the envelope has that point's value: it holds there, slope 0, until the
        // stepper reaches the point's tick and starts the first segment. Extrapolating the first segment
        // backwards would give values far below 0 (an inverted voice) for as long as the ticks run.
        channel->volEnvDone = 0;
        channel->volEnvTick = q;
        channel->volEnvPoint = 0;
        channel->volEnvStep = 0;
        channel->volEnvValue = static_cast<int32_t>(points[0].value) * 65536;
        channel->volEnvVolume = points[0].value;
        return;
    }
    int32_t i = 0;
    while (i < count - 1 && q > points[i + 1].tick) {
        i++;
    }
    channel->volEnvPoint = i;
    if (i >= count - 1) {
        channel->volEnvVolume = count > 0 ? points[count - 1].value : 0;
        channel->volEnvDone = 1;
        return;
    }
    channel->volEnvDone = 0;
    channel->volEnvTick = q;
    int64_t slope = EnvelopeSlope(points[i], points[i + 1]);
    channel->volEnvStep = static_cast<int32_t>(slope);
    channel->volEnvPoint = i + 1;
    int64_t value = static_cast<int64_t>(points[i].value) * 65536 + (q - static_cast<int64_t>(points[i].tick)) * slope;
    channel->volEnvValue = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(value)));
    channel->volEnvVolume = channel->volEnvValue >> 16;
}

// Remembers a parameter: 0 reuses the kept value.
static void Remember(uint8_t* memory, uint8_t value)
{
    if (value != 0) {
        *memory = value;
    }
}

// The row-start half of effect E, by x.
static void ExtendedAtRowStart(Song* song, MusicChannel* channel, Sample* sample, uint8_t param, int32_t savedVolume,
                               int32_t savedPeriod, int32_t savedPanning)
{
    uint8_t y = param & 0x0F;
    switch (param >> 4) {
    case 0x1:
        Remember(&channel->finePortaUp, y);
        channel->period = LimitSlide(int64_t{channel->period} - 4 * channel->finePortaUp);
        break;
    case 0x2:
        Remember(&channel->finePortaDown, y);
        channel->period = LimitSlide(int64_t{channel->period} + 4 * channel->finePortaDown);
        break;
    case 0x4:
        channel->waveControl = static_cast<uint8_t>((channel->waveControl & 0xF0) | y);
        break;
    case 0x5:
        // The sample itself keeps the finetune (y, 0..15) for every later note, also after a restart.
        if (sample != &EmptySample) {
            sample->finetune = static_cast<int8_t>(y);
        }
        break;
    case 0x6:
        if (y == 0) {
            channel->loopRow = song->row;
        } else {
            if (channel->loopCount == 0) {
                channel->loopCount = y;
            } else {
                channel->loopCount--;
            }
            if (channel->loopCount != 0) {
                song->row = channel->loopRow - 1;
            }
        }
        break;
    case 0x7:
        channel->waveControl = static_cast<uint8_t>((channel->waveControl & 0x0F) | (y << 4));
        break;
    case 0x8:
        channel->panning = 16 * y;
        channel->updateFlags |= UpdatePanning;
        break;
    case 0xA:
        Remember(&channel->fineVolumeSlide, y);
        channel->volume = channel->volume + channel->fineVolumeSlide > 64 ? 64 : channel->volume + channel->fineVolumeSlide;
        channel->updateFlags |= UpdateVolume;
        break;
    case 0xB:
        Remember(&channel->fineVolumeSlide, y);
        channel->volume = channel->volume - channel->fineVolumeSlide < 0 ? 0 : channel->volume - channel->fineVolumeSlide;
        channel->updateFlags |= UpdateVolume;
        break;
    case 0xD:
        // The note starts on tick y instead (ProcessTick); until then the row changes nothing.
        channel->volume = savedVolume;
        channel->period = savedPeriod;
        channel->panning = savedPanning;
        channel->updateFlags &= static_cast<uint8_t>(~(UpdatePitch | UpdateVolume | UpdatePanning | UpdateStart));
        break;
    case 0xE:
        song->patternDelayTicks = y * song->speed;
        break;
    default:
        break;  // E0, E3, E9, EC, EF: nothing at the row start
    }
}

// One track's share of a row start (cell c, channel ch); `jumped` is the row's jump mark.
static void ProcessTrack(Song* song, const NoteCell& cell, MusicChannel* channel, bool* jumped)
{
    bool porta = cell.effect == 3 || cell.effect == 5;
    if (cell.instrument != 0 && !porta) {
        channel->instrument = static_cast<uint8_t>(cell.instrument - 1);
    }
    bool hasNote = cell.note != 0 && cell.note != 255;
    if (hasNote && !porta) {
        channel->note = static_cast<uint8_t>(cell.note - 1);
    }
    Instrument* instrument = nullptr;
    Sample* sample = SelectSample(song, channel->instrument, channel->note, &instrument);

    int32_t savedVolume = channel->volume;
    int32_t savedPeriod = channel->period;
    int32_t savedPanning = channel->panning;

    // The offset of the last tremolo tick stays in the volume when a tremolo ends.
    if (channel->lastEffect == 7 && cell.effect != 7) {
        channel->volume += channel->volumeDelta;
    }
    channel->lastEffect = cell.effect;
    channel->volumeDelta = 0;
    channel->updateFlags = 0;

    if (hasNote) {
        channel->realNote = static_cast<uint8_t>(cell.note - 1 + sample->relativeNote);
        if ((song->flags & 1) != 0) {
            channel->notePeriod = 7680 - 64 * channel->realNote - sample->finetune / 2;
        } else {
            channel->notePeriod = AmigaPeriod(channel->realNote, sample->finetune);
        }
        if (!porta) {
            channel->period = channel->notePeriod;
        }
        channel->updateFlags = UpdateStart;
    }
    channel->periodDelta = 0;
    channel->updateFlags |= UpdatePitch | UpdateVolume;

    if (cell.instrument != 0) {
        StartInstrument(channel, sample);
    }
    if (cell.volume != 0) {
        ApplyVolumeColumn(channel, cell.volume);
    }
    if (cell.note == 255 || cell.effect == 20) {
        channel->keyOff = 1;
    }
    if ((instrument->volumeEnvelopeFlags & 1) != 0) {
        if (channel->volEnvDone == 0) {
            StepVolumeEnvelope(channel, instrument);
        }
    } else if (channel->keyOff != 0) {
        // A released note without volume envelope is cut at once; the mixer's ramp softens the cut.
        channel->volEnvVolume = 0;
    }
    if ((instrument->panningEnvelopeFlags & 1) != 0 && channel->panEnvDone == 0) {
        StepPanningEnvelope(channel, instrument);
    }
    if (channel->keyOff != 0) {
        channel->fadeoutVolume = channel->fadeoutVolume - instrument->fadeout < 0 ? 0 : channel->fadeoutVolume - instrument->fadeout;
        channel->updateFlags |= UpdateVolume;
    }

    uint8_t param = cell.param;
    uint8_t x = param >> 4;
    uint8_t y = param & 0x0F;
    switch (cell.effect) {
    case 1:
        Remember(&channel->portaUpSpeed, param);
        break;
    case 2:
        Remember(&channel->portaDownSpeed, param);
        break;
    case 3:
        Remember(&channel->portaSpeed, param);
        channel->portaTarget = channel->notePeriod;
        channel->updateFlags &= static_cast<uint8_t>(~(UpdateStart | UpdatePitch));
        break;
    case 4:
        Remember(&channel->vibratoSpeed, x);
        Remember(&channel->vibratoDepth, y);
        Vibrato(channel);
        break;
    case 5:
        channel->portaTarget = channel->notePeriod;
        Remember(&channel->volumeSlide, param);
        channel->updateFlags &= static_cast<uint8_t>(~(UpdateStart | UpdatePitch));
        break;
    case 6:
        Remember(&channel->volumeSlide, param);
        Vibrato(channel);
        break;
    case 7:
        Remember(&channel->tremoloSpeed, x);
        Remember(&channel->tremoloDepth, y);
        break;
    case 8:
        channel->panning = param;
        channel->updateFlags |= UpdatePanning;
        break;
    case 9: {
        if (param != 0) {
            channel->sampleOffset = param;
        }
        uint32_t offset = static_cast<uint32_t>(channel->sampleOffset) * 256;
        if (offset >= static_cast<uint64_t>(sample->loopStart) + sample->loopLength) {
            // Past the end nothing starts; the sounding sample goes back to its first frame instead.
            channel->updateFlags &= static_cast<uint8_t>(~UpdateStart);
            channel->updateFlags |= UpdateRestart;
        } else if (channel->voice != nullptr) {
            // Waits in the voice for the track's next start when this row has no note.
            channel->voice->startOffset = offset;
        }
        break;
    }
    case 10:
        Remember(&channel->volumeSlide, param);
        break;
    case 11:
        song->nextRow = 0;
        song->nextOrderPos = param >= song->orderCount ? 0 : param;
        *jumped = true;
        break;
    case 12:
        // Not limited to 64: a sample volume or Cxx above it plays louder until a slide brings it back.
        channel->volume = param;
        channel->updateFlags |= UpdateVolume;
        break;
    case 13:
        // Decimal digits; a row past 63 breaks to row 0.
        song->nextRow = 10 * x + y;
        if (song->nextRow > 63) {
            song->nextRow = 0;
        }
        if (!*jumped) {
            song->nextOrderPos = song->orderPos + 1;
        }
        if (song->nextOrderPos >= song->orderCount) {
            song->nextOrderPos = 0;
        }
        break;
    case 14:
        ExtendedAtRowStart(song, channel, sample, param, savedVolume, savedPeriod, savedPanning);
        break;
    case 15:
        if (param < 32) {
            song->speed = param;
        } else {
            SndSetTempo(song, param);
        }
        break;
    case 16:
        song->globalVolume = param > 64 ? 64 : param;
        channel->updateFlags |= UpdateVolume;
        break;
    case 17:
        Remember(&song->globalVolumeSlide, param);
        break;
    case 21:
        SetEnvelopePosition(channel, instrument, param);
        break;
    case 25:
        Remember(&channel->panningSlide, param);
        break;
    case 27:
        if (param != 0) {
            channel->retrigVolume = x;
            channel->retrigInterval = y;
        }
        break;
    case 29:
        if (param != 0) {
            channel->tremorOn = static_cast<uint8_t>(x + 1);
            channel->tremorOff = static_cast<uint8_t>(y + 1);
        }
        Tremor(channel);
        break;
    case 33:
        if (x == 1) {
            Remember(&channel->xfinePortaUp, y);
            channel->period = LimitSlide(int64_t{channel->period} - channel->xfinePortaUp);
        } else if (x == 2) {
            Remember(&channel->xfinePortaDown, y);
            channel->period = LimitSlide(int64_t{channel->period} + channel->xfinePortaDown);
        }
        break;
    default:
        break;  // 0 (arpeggio), 20 (key off, above) and numbers without a meaning: nothing here
    }

    AutoVibrato(channel, instrument);
    UpdateVoice(channel, sample, song);
}

void ProcessRow(Song* song)
{
    song->nextRow = -1;
    song->nextOrderPos = -1;
    bool jumped = false;
    song->rowRead = song->row;
    const NoteCell* cells = ModRowCells(song, song->row);
    if (cells == nullptr) {
        return;
    }
    int32_t tracks = TrackCount(song);
    for (int32_t k = 0; k < tracks; k++) {
        ProcessTrack(song, cells[k], &MusicChannels[k], &jumped);
    }
}

void ModUpdateTick(Song* song)
{
    if (song == nullptr) {
        return;
    }
    if (song->tick != 0) {
        ProcessTick(song);
    } else {
        if (song->nextOrderPos >= 0) {
            song->orderPos = song->nextOrderPos;
        }
        if (song->nextRow >= 0) {
            song->row = song->nextRow;
        }
        ProcessRow(song);
        if (song->nextRow == -1) {
            // A pattern loop whose start row was itself set back during a row can leave the row below -1;
            // play goes on from row 0 rather than stand still on rows outside the pattern.
            song->nextRow = song->row + 1 < 0 ? 0 : song->row + 1;
            const Pattern* pattern = PatternAt(song, song->orderPos);
            int32_t rowCount = pattern != nullptr ? pattern->rowCount : 0;
            if (song->nextRow >= rowCount) {
                song->nextOrderPos = song->orderPos + 1;
                if (song->nextOrderPos >= song->orderCount) {
                    // A restart position outside the song (only a hand-built song has one) restarts at 0.
                    song->nextOrderPos = song->restartPosition >= 0 && song->restartPosition < song->orderCount
                                             ? song->restartPosition
                                             : 0;
                }
                song->nextRow = 0;
            }
        }
    }
    song->tick += 1;
    if (song->tick >= song->speed + song->patternDelayTicks) {
        song->patternDelayTicks = 0;
        song->tick = 0;
    }
}
