// What the benchmarks share: loading modules written in memory, and streaming a song block after block as
// the intro does, with the stand-in audio device (which plays nothing) and its streaming thread held back.
#pragma once

#include "bench_modules.h"
#include "music/music.h"
#include "platform/fake/fake_audio.h"
#include "platform/platform.h"
#include "sound/sound.h"

#include <cstdlib>
#include <cstring>
#include <vector>

inline std::vector<uint8_t>& BenchModuleBytes()
{
    static std::vector<uint8_t> bytes;
    return bytes;
}

inline void* BenchModuleOpen(const char*)
{
    auto* file = static_cast<MemFile*>(std::calloc(1, sizeof(MemFile)));
    const std::vector<uint8_t>& bytes = BenchModuleBytes();
    file->length = static_cast<int32_t>(bytes.size());
    file->data = static_cast<uint8_t*>(std::malloc(bytes.size() + 1));
    if (!bytes.empty()) {
        std::memcpy(file->data, bytes.data(), bytes.size());
    }
    return file;
}

// A song from a written module (null if it does not load).
inline Song* LoadBenchModule(const XmModule& module)
{
    BenchModuleBytes() = XmWriteModule(module);
    ModSetFileCallbacks(BenchModuleOpen, MemFileClose, MemFileRead, MemFileSeek, MemFileTell);
    return ModLoadSong("memory", nullptr);
}

// A song from a file, through the intro's own file callbacks.
inline Song* LoadSongFile(const char* path)
{
    ModSetFileCallbacks(MemFileOpen, MemFileClose, MemFileRead, MemFileSeek, MemFileTell);
    return ModLoadSong(path, nullptr);
}

// Opens the stand-in output at 44100 Hz and starts the song: play resets it and pre-mixes the whole ring.
// The streaming thread waits until StopBenchSong, so the caller alone mixes further blocks.
inline bool StartBenchSong(Song* song)
{
    FakeAudioReset();
    if (!SndInit(44100)) {
        return false;
    }
    fakeAudio.holdNewThreads = true;
    return ModPlaySong(song);
}

// Lets the held thread end without mixing, then frees the song and closes the output as the intro does.
inline void StopBenchSong(Song* song)
{
    StopRequested = true;
    fakeAudio.holdNewThreads = false;
    ModFreeSong(song);
    SndClose();
}

// Output frames from a song's start until it first comes back to an order position it has already played
// (where xmrender stops), found by running its ticks without mixing. The song is left as play leaves it
// after a reset, so call it on a song that is then freed.
inline int64_t SongLengthFrames(Song* song)
{
    if (!StartBenchSong(song)) {
        return 0;
    }
    // Play's pre-mix already ran ticks: start over from the song's beginning.
    song->globalVolume = song->initialGlobalVolume;
    song->nextRow = -1;
    song->nextOrderPos = -1;
    song->speed = song->defaultSpeed;
    song->row = 0;
    song->orderPos = 0;
    song->tick = 0;
    song->patternDelayTicks = 0;
    SndSetTempo(song, song->defaultBpm);
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
    StopBenchSong(song);
    return frames;
}
