// What the tools that play songs (xmrender, xmplay) share: exit codes and the options they read alike,
// where a song ends, and how times and progress are shown.
#pragma once

#include "music/music.h"

#include <CLI/CLI.hpp>

#include <cstdint>
#include <string>

constexpr int ExitFailed = 1;  // a song did not load or play, or the output failed
constexpr int ExitUsage = 2;   // bad command line
// Longest play or render without --seconds: a song that never comes back to an order position (it always
// does, since play never ends) cannot run forever.
constexpr double MaxDefaultSeconds = 3600.0;
constexpr double MaxSeconds = 24.0 * 3600.0;

// --rate (Hz, MinOutputRate..MaxOutputRate) and --seconds (0.001 s..MaxSeconds), as every tool reads them.
void AddRateOption(CLI::App& app, int32_t* rate);
void AddSecondsOption(CLI::App& app, double* seconds, const std::string& description);
// Parses the command line: -1 when the tool goes on, else its exit code (0 after --help, ExitUsage after a
// usage error, which CLI11 has already explained).
int ParseToolArguments(CLI::App& app, int argc, char** argv);

// Where the song stands, followed on every tick through its onTick. By default a song ends where it first
// comes back to an order position it has already played (the wrap to the restart position or a backward
// jump): that is where the render stops and the player goes on to the next file.
struct SongWatch {
    bool visited[256];       // order positions whose rows have started
    int32_t lastOrderPos;    // order position entered last; -1 before the first row
    int64_t nextTickFrame;   // output frame at which the next tick comes
    int64_t loopFrame;       // frame at which the song came back to a played order position; -1 not yet
    int32_t loopOrderPos;    // the order position it came back to
};

// The watch of the song being rendered or measured (the thread that mixes it).
extern SongWatch SongEndWatch;

// Resets the watch and makes WatchedTick the song's tick.
void StartSongWatch(Song* song);
// The song's tick, as the intro runs it (ModUpdateTick), plus the bookkeeping of where the song ends.
void WatchedTick(Song* song);
// Where the song first comes back to a played order position, found by running its ticks from the start
// without mixing (the position depends only on the patterns and the tempo, not on the sound): the same
// frame a render measures. -1 when that lies at or beyond ceilingFrames, or the tempo is so fast that the
// ticks up to it are too many to run. Starts the song as play does (main thread, no song streaming); the song
// is not fit to play afterwards (effects may have changed its samples), so measure a copy.
int64_t MeasureSongEnd(Song* song, int32_t rate, int64_t ceilingFrames, int32_t* loopOrderPos = nullptr);

// "m:ss.mmm" for a count of frames.
std::string FormatDuration(int64_t frames, int32_t rate);
// "[####......]" with `width` cells filled in proportion to done / total (clamped to full).
std::string ProgressBar(int64_t done, int64_t total, int width);
