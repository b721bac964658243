// xmplay FILE.xm [FILE.xm ...]: plays each module in turn on the sound card through the intro's own path:
// the in-memory file callbacks, SndInit, ModLoadSong, ModPlaySong, the streaming thread and the platform's
// audio device. What it plays is therefore what xmrender writes, frame for frame.
//
// A song ends where it first comes back to an order position it has already played, measured as xmrender
// measures it (--loop plays on, --seconds plays a fixed length). From that frame on the song's tick silences
// every voice, so the device hears the render up to its last frame and then silence, never the start of the
// song's next turn; the main loop moves on once the device has played that far.
//
// Each file is read once, whole, into memory ("-" is standard input; a pipe such as "<(...)" or /dev/stdin
// like any file), and both loads (the measuring copy and the song played) take those bytes. A file that cannot
// be read again (not a regular file) keeps its bytes for the whole run, so that p can go back to it.
//
// On a terminal a status area is redrawn in place, from what the streaming thread publishes of the block
// being heard (never from the player's own fields); keys: space pauses, n and p go to the next and previous
// file, q or Esc quit (Ctrl-C too, Ctrl-Z stops the player as any program). Without a terminal one line is
// written per song.
//
// Exit codes: 0 every file played, 1 a file could not be played or no audio device opened, 2 bad usage. Ended
// by a signal (Ctrl-C, SIGTERM), xmplay dies of it once the terminal is back, so a shell sees 130 or 143.
#include "tools/xmplay/xmplay.h"

#include "cli/cli.h"
#include "music/music.h"
#include "platform/platform.h"
#include "sound/sound.h"

#include <CLI/CLI.hpp>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// One pass of the main loop: keys, the published status, the status area.
constexpr int PassMilliseconds = 40;

struct Options {
    std::vector<std::string> files;
    int32_t rate = 44100;
    double seconds = 0.0;
    bool loop = false;
    bool quiet = false;
};

// Where the song being played stops. Written by the main thread before ModPlaySong (whose pre-mix runs the
// first ticks on the main thread), then by the streaming thread alone.
struct PlayEnd {
    int64_t nextTickFrame;  // output frame at which the next tick comes
    int64_t stopFrame;      // first frame not to be heard; -1 plays on without end
    bool silenced;          // the voices have been silenced for good
};

PlayEnd playEnd;

// The song's tick while it streams: the player's own tick up to the stop, and from the first tick at or after
// it every voice silent, so the ring fills with silence rather than with the song's next turn.
void PlayTick(Song* song)
{
    if (playEnd.stopFrame >= 0 && playEnd.nextTickFrame >= playEnd.stopFrame) {
        if (!playEnd.silenced) {
            for (MixVoice& voice : MixVoices) {
                voice.sample = nullptr;
            }
            playEnd.silenced = true;
        }
    } else {
        ModUpdateTick(song);
    }
    // The mixer runs at least one frame per tick, whatever the tempo.
    playEnd.nextTickFrame += song->samplesPerTick < 1 ? 1 : song->samplesPerTick;
}

enum class Outcome { Ended, Next, Previous, Quit, Failed };

struct Player {
    Options options;
    bool keys = false;        // standard input is a terminal whose keys steer the player
    bool statusArea = false;  // standard output is a terminal that shows the status area
    StatusArea area;
    // The bytes of each file that cannot be read a second time (standard input, a pipe), once read; empty
    // for the others, which are read anew each time they play.
    std::vector<std::vector<uint8_t>> readOnce;
    std::vector<bool> haveReadOnce;
};

// A file that a second reading would not give again: standard input, a pipe, a device.
bool ReadableOnlyOnce(const std::string& path)
{
    struct stat info {};
    return path == StandardInputPath || stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode);
}

// One line on standard error, written where the status area was (the area is drawn again below it).
void Notice(Player* player, const std::string& text)
{
    if (player->statusArea) {
        EraseStatusArea(&player->area);
    }
    std::fprintf(stderr, "xmplay: %s\n", text.c_str());
    std::fflush(stderr);
}

Outcome Refuse(Player* player, const std::string& shownPath, ModuleFileState state, bool loaderRefused)
{
    Notice(player, "cannot load " + shownPath + ": " + RefusalReason(state, loaderRefused));
    return Outcome::Failed;
}

Outcome PlayFile(Player* player, int32_t index)
{
    const Options& options = player->options;
    const std::string& path = options.files[static_cast<size_t>(index)];
    std::string shownPath = TerminalSafe(path);
    size_t slot = static_cast<size_t>(index);
    std::vector<uint8_t> bytes;
    ModuleHeader header;
    if (player->haveReadOnce[slot]) {
        bytes = player->readOnce[slot];
        header = ReadModuleHeader(bytes.data(), bytes.size());
    } else {
        bool once = ReadableOnlyOnce(path);
        header = ReadModuleFile(path, &bytes);
        if (once && header.state == ModuleFileState::Ok) {
            player->readOnce[slot] = bytes;
            player->haveReadOnce[slot] = true;
        }
    }
    if (header.state != ModuleFileState::Ok) {
        return Refuse(player, shownPath, header.state, false);
    }
    // Both loads below open the path and are handed these bytes: the file is not read again. The kept copy
    // is all they need.
    if (!MemFileKeepBytes(path.c_str(), bytes.data(), static_cast<int32_t>(bytes.size()))) {
        return Refuse(player, shownPath, ModuleFileState::NoMemory, false);
    }
    bytes = std::vector<uint8_t>();

    // The end is measured on a copy, which the measuring leaves where its ticks stopped; no song streams
    // between two files, so the open output lets it run.
    int32_t rate = options.rate;
    int64_t ceilingFrames = std::llround(MaxDefaultSeconds * rate);
    Song* probe = ModLoadSong(path.c_str(), nullptr);
    int64_t songEnd = probe != nullptr ? SndMeasureFirstPass(probe, rate, ceilingFrames) : -1;
    ModFreeSong(probe);
    Song* song = probe != nullptr ? ModLoadSong(path.c_str(), nullptr) : nullptr;
    MemFileForget();
    if (song == nullptr) {
        return Refuse(player, shownPath, header.state, true);
    }

    SongView view;
    view.fileName = path;
    view.title = header.title;
    view.index = index;
    view.fileCount = static_cast<int32_t>(options.files.size());
    view.rate = rate;
    view.songFrames = songEnd;
    view.keys = player->keys;
    view.orderCount = song->orderCount;
    int64_t stopFrame = -1;
    if (options.seconds > 0.0) {
        stopFrame = std::llround(options.seconds * rate);
        view.totalFrames = stopFrame;
    } else if (!options.loop) {
        // A song whose end was not found within the longest play stops there, its length unknown.
        stopFrame = songEnd >= 0 ? songEnd : ceilingFrames;
        view.totalFrames = songEnd;
    }

    playEnd = PlayEnd{0, stopFrame, false};
    song->onTick = PlayTick;
    if (!ModPlaySong(song)) {
        Notice(player, "not enough memory to play " + shownPath);
        ModFreeSong(song);
        return Outcome::Failed;
    }
    if (!player->statusArea && !options.quiet) {
        std::printf("%s\n", FormatSongLine(view).c_str());
        std::fflush(stdout);
    }

    Outcome outcome = Outcome::Ended;
    bool playing = true;
    while (playing) {
        std::vector<PlayerKey> keys;
        WaitForKeys(PassMilliseconds, &keys);
        for (PlayerKey key : keys) {
            if (!playing) {
                break;
            }
            switch (key) {
            case PlayerKey::Pause:
                view.paused = !view.paused;
                if (view.paused) {
                    SndPause();
                } else {
                    SndResume();
                }
                break;
            case PlayerKey::Next:
                outcome = Outcome::Next;
                playing = false;
                break;
            case PlayerKey::Previous:
                outcome = Outcome::Previous;
                playing = false;
                break;
            case PlayerKey::Quit:
                outcome = Outcome::Quit;
                playing = false;
                break;
            }
        }
        if (QuitSignalled()) {
            outcome = Outcome::Quit;
            playing = false;
        }
        SndPlayStatus status{};
        if (SndReadPlayStatus(&status)) {
            view.status = status;
            view.haveStatus = true;
            int32_t pattern = status.pattern;
            view.rowCount = pattern >= 0 && pattern < song->patternSlotCount ? song->patterns[pattern].rowCount : 0;
        }
        if (playing && stopFrame >= 0 && view.haveStatus &&
            view.status.playedFrames >= static_cast<uint64_t>(stopFrame)) {
            playing = false;
        }
        if (player->statusArea) {
            if (TerminalContinued()) {
                // Back from a stop: the shell has written below the old area; the new one goes under it.
                player->area.drawnLines = 0;
            }
            DrawStatusArea(&player->area, FormatStatusArea(view, TerminalWidth(), TerminalHeight()));
        }
    }

    // Paused before the streaming stops: the device would otherwise go on looping the ring's last contents.
    SndPause();
    ModFreeSong(song);
    if (view.haveStatus && view.status.fellBehind) {
        Notice(player, shownPath + ": the system held the sound back (the device played " +
                           std::to_string(view.status.longestPollGapFrames * 1000 / static_cast<uint64_t>(rate)) +
                           " ms between two looks at it); part of the song may have been heard twice");
    }
    return outcome;
}

int PlayAll(const Options& options)
{
    PlatMessageBox = PlatMessageBoxToStderr;
    ModSetFileCallbacks(MemFileOpen, MemFileClose, MemFileRead, MemFileSeek, MemFileTell);
    if (!SndInit(options.rate)) {
        // The intro's own start-up line for an output that does not open.
        std::fputs("Error upon initialization\n", stdout);
        std::fflush(stdout);
        return ExitFailed;
    }

    Player player;
    player.options = options;
    player.readOnce.resize(options.files.size());
    player.haveReadOnce.resize(options.files.size(), false);
    player.statusArea = !options.quiet && isatty(STDOUT_FILENO) != 0;
    player.keys = TerminalStart(isatty(STDIN_FILENO) != 0, player.statusArea);

    int32_t count = static_cast<int32_t>(options.files.size());
    std::vector<bool> failed(options.files.size(), false);
    bool anyFailed = false;
    int32_t index = 0;
    while (index < count && !QuitSignalled()) {
        Outcome outcome = PlayFile(&player, index);
        if (outcome == Outcome::Quit) {
            break;
        }
        if (outcome == Outcome::Failed) {
            failed[static_cast<size_t>(index)] = true;
            anyFailed = true;
            index++;
        } else if (outcome == Outcome::Previous) {
            // The nearest earlier file that played; the first one starts again.
            int32_t previous = index - 1;
            while (previous >= 0 && failed[static_cast<size_t>(previous)]) {
                previous--;
            }
            index = previous >= 0 ? previous : index;
        } else {
            index++;
        }
    }

    TerminalStop();
    SndClose();
    if (int signalNumber = QuitSignalled(); signalNumber != 0) {
        EndBySignal(signalNumber);
    }
    return anyFailed ? ExitFailed : 0;
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    CLI::App app{"Plays XM modules on the sound card, one after the other, through the intro's own player and "
                 "mixer."};
    app.add_option("files", options.files, "XM modules to play (- reads one from standard input)")->required();
    AddRateOption(app, options.rate);
    app.add_flag("--loop", options.loop, "play on past the song's jump back (by default a song ends where it "
                                         "first comes back to an order position it has played)");
    AddSecondsOption(app, options.seconds, "play each song this many seconds");
    app.add_flag("-q,--quiet", options.quiet, "no status area and no line per song");
    if (int code = ParseToolArguments(app, argc, argv); code >= 0) {
        return code;
    }
    // Standard input holds one module: a terminal there is for keys, not for a module typed in.
    int fromInput = 0;
    for (const std::string& file : options.files) {
        fromInput += file == StandardInputPath ? 1 : 0;
    }
    if (fromInput > 1) {
        std::fprintf(stderr, "xmplay: - (standard input) can be given only once\n");
        return ExitUsage;
    }
    if (fromInput == 1 && isatty(STDIN_FILENO) != 0) {
        std::fprintf(stderr, "xmplay: - reads a module from standard input, which is a terminal\n");
        return ExitUsage;
    }
    return PlayAll(options);
}
