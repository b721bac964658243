// What the player, mixer and renderer tests and the benchmarks share: songs loaded from memory or from a file,
// the state play leaves before the first tick (without a device), small modules written with the XM writer,
// stepping a song tick by tick, and streaming a song block after block as the intro does, with the stand-in
// audio device (which plays nothing) and its streaming thread held back.
#pragma once

#include "music/music.h"
#include "platform/fake/fake_audio.h"
#include "sound/sound.h"
#include "tests/support/memory_song.h"
#include "tools/xmwriter/xmwriter.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// ---- Loading and resetting ----------------------------------------------------------------------------------

// A song from a file, through the intro's own file callbacks.
inline Song* LoadSongFile(const char* path)
{
    ModSetFileCallbacks(MemFileOpen, MemFileClose, MemFileRead, MemFileSeek, MemFileTell);
    return ModLoadSong(path, nullptr);
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

// ---- Small modules ------------------------------------------------------------------------------------------

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

// A two-pattern module of four tracks at 140 BPM and speed 4 that exercises notes, envelopes, the voice
// pairs, slides, vibrato, arpeggio, retriggers, panning and a ping-pong loop.
inline XmModule EffectsModule()
{
    XmModule module = TraceModule(4, {16, 16}, 4);
    module.defaultBpm = 140;
    XmInstrument& pad = module.instruments[0];
    pad.volumeEnvelope.points = {{0, 0}, {6, 64}, {20, 40}, {40, 10}};
    pad.volumeEnvelope.flags = XmEnvelopeOn | XmEnvelopeSustain;
    pad.volumeEnvelope.sustain = 2;
    pad.panningEnvelope.points = {{0, 16}, {30, 48}};
    pad.panningEnvelope.flags = XmEnvelopeOn;
    pad.fadeout = 400;
    pad.vibratoType = 0;
    pad.vibratoDepth = 6;
    pad.vibratoRate = 12;
    pad.vibratoSweep = 8;
    XmInstrument& pluck = module.instruments[1];
    pluck.samples[0].loop = XmLoop::PingPong;
    pluck.samples[0].loopStart = 200;
    pluck.samples[0].loopLength = 300;
    pluck.samples[0].relativeNote = 12;
    XmPattern& a = module.patterns[0];
    XmSetCell(&a, 4, 0, 0, Cell(NoteC4, 1, 0, 4, 0x46));
    XmSetCell(&a, 4, 0, 1, Cell(NoteC4 - 12, 2, 0x30, 0, 0x37));
    XmSetCell(&a, 4, 2, 2, Cell(NoteD4, 2, 0, 27, 0x82));
    XmSetCell(&a, 4, 4, 1, Cell(NoteD4 - 12, 0, 0, 3, 0x08));
    XmSetCell(&a, 4, 6, 3, Cell(NoteC4 + 7, 1, 0xC2, 25, 0x40));
    XmSetCell(&a, 4, 8, 0, Cell(KeyOffNote, 0));
    XmSetCell(&a, 4, 8, 2, Cell(NoteC4 + 3, 2, 0, 9, 0x01));
    XmSetCell(&a, 4, 10, 1, Cell(0, 0, 0x65, 10, 0x02));
    XmSetCell(&a, 4, 12, 3, Cell(NoteC4 + 12, 1, 0, 7, 0x48));
    XmSetCell(&a, 4, 14, 2, Cell(NoteC4, 2, 0, 14, 0xD2));
    XmPattern& b = module.patterns[1];
    XmSetCell(&b, 4, 0, 0, Cell(NoteC4 + 5, 1, 0x40, 1, 0x02));
    XmSetCell(&b, 4, 0, 1, Cell(NoteC4 - 5, 2, 0, 14, 0x93));
    XmSetCell(&b, 4, 4, 2, Cell(NoteC4 + 2, 2, 0xB3, 6, 0x01));
    XmSetCell(&b, 4, 8, 3, Cell(NoteC4 - 3, 1, 0, 29, 0x21));
    XmSetCell(&b, 4, 12, 0, Cell(0, 0, 0, 16, 0x30));
    XmSetCell(&b, 4, 12, 1, Cell(NoteC4, 1, 0, 17, 0x02));
    return module;
}

// ---- Tick by tick -------------------------------------------------------------------------------------------

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

// ---- Streaming without real time ----------------------------------------------------------------------------

// Opens the stand-in output at `rate` and starts the song: play resets it and pre-mixes the whole ring. The
// streaming thread waits until StopStreamedSong, so the caller alone mixes further blocks (SndMixBlock).
inline bool StartStreamedSong(Song* song, int32_t rate = 44100)
{
    FakeAudioReset();
    if (!SndInit(rate)) {
        return false;
    }
    fakeAudio.holdNewThreads = true;
    return ModPlaySong(song);
}

// Lets the held thread end without mixing, then frees the song and closes the output as the intro does.
inline void StopStreamedSong(Song* song)
{
    StopRequested = true;
    fakeAudio.holdNewThreads = false;
    ModFreeSong(song);
    SndClose();
}

// The largest magnitude among the samples: tells a render from silence.
inline int32_t Peak(const int16_t* samples, size_t count)
{
    int32_t peak = 0;
    for (size_t k = 0; k < count; k++) {
        int32_t value = samples[k] < 0 ? -samples[k] : samples[k];
        peak = value > peak ? value : peak;
    }
    return peak;
}

// Output frames from a song's start until it first comes back to an order position it has already played
// (where xmrender stops), found by running its ticks without mixing. The song is played to do so and freed.
inline int64_t SongLengthFrames(Song* song)
{
    if (!StartStreamedSong(song)) {
        return 0;
    }
    // Play's pre-mix already ran ticks: start over from the song's beginning.
    ResetForPlay(song);
    bool visited[256] = {};
    int32_t last = -1;
    int64_t frames = 0;
    for (int64_t ticks = 0; ticks < 10000000; ticks++) {
        bool entering = song->tick == 0 && (song->nextOrderPos >= 0 || last < 0);
        ModUpdateTick(song);
        if (entering) {
            int32_t pos = song->orderPos & 255;
            if (visited[pos]) {
                break;
            }
            visited[pos] = true;
            last = pos;
        }
        frames += song->samplesPerTick < 1 ? 1 : song->samplesPerTick;
    }
    StopStreamedSong(song);
    return frames;
}
