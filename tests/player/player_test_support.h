// Playing small modules tick by tick without audio: load bytes written by the XM writer through in-memory
// file callbacks, reset the song and the tracks as play does, and read back the state after every tick.
#pragma once

#include "music/music.h"
#include "sound/sound.h"
#include "tools/xmwriter/xmwriter.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

inline std::vector<uint8_t>& PlayerTestBytes()
{
    static std::vector<uint8_t> bytes;
    return bytes;
}

inline void* PlayerTestOpen(const char*)
{
    auto* file = static_cast<MemFile*>(std::calloc(1, sizeof(MemFile)));
    const std::vector<uint8_t>& bytes = PlayerTestBytes();
    file->length = static_cast<int32_t>(bytes.size());
    file->data = static_cast<uint8_t*>(std::malloc(bytes.size() + 1));
    if (!bytes.empty()) {
        std::memcpy(file->data, bytes.data(), bytes.size());
    }
    return file;
}

inline Song* LoadModule(const XmModule& module)
{
    PlayerTestBytes() = XmWriteModule(module);
    ModSetFileCallbacks(PlayerTestOpen, MemFileClose, MemFileRead, MemFileSeek, MemFileTell);
    return ModLoadSong("memory", nullptr);
}

// The output timing the player reads, and every voice silent in its own slot, as SndInit leaves them.
inline void ResetOutput(int32_t rate = 44100)
{
    OutputRate = rate;
    for (int32_t i = 0; i < MixVoiceSlots; i++) {
        MixVoices[i] = MixVoice{};
        MixVoices[i].slot = i;
        MixVoices[i].speedInt = 1;
    }
}

// What play does to a song before its first tick, without a device or a ring.
inline void ResetForPlay(Song* song)
{
    song->globalVolume = song->initialGlobalVolume;
    song->nextRow = -1;
    song->nextOrderPos = -1;
    song->speed = song->defaultSpeed;
    song->row = 0;
    song->orderPos = 0;
    song->tickSamplesLeft = 0;
    song->tick = 0;
    song->patternDelayTicks = 0;
    song->elapsedMs = 0;
    SndSetTempo(song, song->defaultBpm);
    for (int32_t i = 0; i < MaxChannels; i++) {
        MusicChannels[i] = MusicChannel{};
        MusicChannels[i].voice = &MixVoices[i];
    }
}

// A looped 16-bit sample long enough to keep sounding through a test.
inline XmSample LoopedSample(uint8_t volume = 64, uint8_t panning = 128, int8_t finetune = 0)
{
    XmSample sample;
    sample.bits = 16;
    for (int k = 0; k < 1000; k++) {
        sample.pcm.push_back(static_cast<int16_t>((k % 50) * 600 - 15000));
    }
    sample.loop = XmLoop::Forward;
    sample.loopStart = 0;
    sample.loopLength = 1000;
    sample.volume = volume;
    sample.panning = panning;
    sample.finetune = finetune;
    return sample;
}

inline XmInstrument SimpleInstrument(XmSample sample)
{
    XmInstrument instrument;
    instrument.samples.push_back(std::move(sample));
    XmMapAllNotes(&instrument, 0);
    return instrument;
}

// A module of `channels` tracks with one pattern per entry of rowCounts, played in that order, and two
// instruments: 1 (volume 40, panning 128) and 2 (volume 20, panning 50).
inline XmModule TraceModule(uint16_t channels, std::vector<uint16_t> rowCounts, uint16_t speed = 6)
{
    XmModule module;
    module.channelCount = channels;
    module.defaultSpeed = speed;
    module.defaultBpm = 125;
    for (size_t k = 0; k < rowCounts.size(); k++) {
        module.orders.push_back(static_cast<uint8_t>(k));
        module.patterns.push_back(XmMakePattern(rowCounts[k], channels));
    }
    module.instruments.push_back(SimpleInstrument(LoopedSample(40, 128)));
    module.instruments.push_back(SimpleInstrument(LoopedSample(20, 50)));
    return module;
}

inline XmCell Cell(uint8_t note, uint8_t instrument = 0, uint8_t volume = 0, uint8_t effect = 0, uint8_t param = 0)
{
    return XmCell{note, instrument, volume, effect, param};
}

// 1-based XM note numbers.
constexpr uint8_t NoteC4 = 49;
constexpr uint8_t NoteD4 = 51;
constexpr uint8_t KeyOffNote = 97;

// Song position and a few fields of one track after a tick.
struct TickState {
    int32_t tick;  // the tick that was processed (0 = a row start)
    int32_t row;
    int32_t orderPos;
    int32_t speed;
    int32_t period;
    int32_t volume;
    int32_t panning;
    int32_t flags;
    int32_t voiceSlot;
    int32_t voiceVolume;
};

inline TickState StepTick(Song* song, int32_t track = 0)
{
    TickState state{};
    state.tick = song->tick;
    ModUpdateTick(song);
    const MusicChannel& channel = MusicChannels[track];
    state.row = song->row;
    state.orderPos = song->orderPos;
    state.speed = song->speed;
    state.period = channel.period;
    state.volume = channel.volume;
    state.panning = channel.panning;
    state.flags = channel.updateFlags;
    state.voiceSlot = channel.voice != nullptr ? channel.voice->slot : -1;
    state.voiceVolume = channel.voice != nullptr ? channel.voice->volume : -1;
    return state;
}

// One line per tick: "tick row order speed | period volume panning flags slot voiceVolume".
inline std::string TraceLine(const TickState& s)
{
    return std::to_string(s.tick) + " " + std::to_string(s.row) + " " + std::to_string(s.orderPos) + " " +
           std::to_string(s.speed) + " | " + std::to_string(s.period) + " " + std::to_string(s.volume) + " " +
           std::to_string(s.panning) + " " + std::to_string(s.flags) + " " + std::to_string(s.voiceSlot) + " " +
           std::to_string(s.voiceVolume);
}

inline std::vector<std::string> Trace(Song* song, int ticks, int32_t track = 0)
{
    std::vector<std::string> lines;
    for (int k = 0; k < ticks; k++) {
        lines.push_back(TraceLine(StepTick(song, track)));
    }
    return lines;
}

// Row and order position of each row start over `ticks` ticks.
inline std::vector<std::pair<int32_t, int32_t>> RowStarts(Song* song, int ticks)
{
    std::vector<std::pair<int32_t, int32_t>> starts;
    for (int k = 0; k < ticks; k++) {
        bool start = song->tick == 0;
        ModUpdateTick(song);
        if (start) {
            starts.emplace_back(song->orderPos, song->rowRead);
        }
    }
    return starts;
}
