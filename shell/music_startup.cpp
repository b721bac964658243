// The intro's music: file access first, then the audio output, then the song, and the reverse at shutdown.
#include "shell/shell.h"

#include "music/music.h"
#include "sound/sound.h"

#include <cstdio>

std::string introSongPath = "data/glimrook.xm";

// The song loaded by StartMusic, held for the whole run (main thread).
static Song* introSong = nullptr;

void PrepareMusic()
{
    // The song is read once, at its first load, and every later load (a recording loads it twice) takes those
    // bytes: a song from a pipe can be read only once.
    MemFileKeep(introSongPath.c_str());
    ModSetFileCallbacks(MemFileOpen, MemFileClose, MemFileRead, MemFileSeek, MemFileTell);
}

bool StartMusic()
{
    if (!SndInit(44100)) {
        std::fputs("Error upon initialization\n", stdout);
        std::fflush(stdout);
        return false;
    }
    introSong = ModLoadSong(introSongPath.c_str(), nullptr);
    if (introSong == nullptr) {
        std::fputs("Error loading song\n", stdout);
        std::fflush(stdout);
        return false;
    }
    // A ring that cannot be allocated leaves nothing playing: the output cannot start.
    if (!ModPlaySong(introSong)) {
        std::fputs("Error upon initialization\n", stdout);
        std::fflush(stdout);
        return false;
    }
    return true;
}

void StopMusic()
{
    if (introSong != nullptr) {
        ModFreeSong(introSong);
        introSong = nullptr;
    }
    MemFileForget();
    SndClose();
}
