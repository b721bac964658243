// What the tools that play songs share (see song_tools.h).
#include "tools/common/song_tools.h"

#include "sound/sound.h"

#include <cstdio>

namespace {

// Ticks MeasureSongEnd runs at most: 11 hours of a song at 255 BPM and speed 1, yet about a second of work
// when a song's tempo is absurd (a few frames per tick).
constexpr int64_t MaxMeasuredTicks = int64_t{1} << 22;

}  // namespace

SongWatch SongEndWatch;

void AddRateOption(CLI::App& app, int32_t* rate)
{
    app.add_option("--rate", *rate, "output rate in Hz")->check(CLI::Range(MinOutputRate, MaxOutputRate));
}

void AddSecondsOption(CLI::App& app, double* seconds, const std::string& description)
{
    app.add_option("--seconds", *seconds, description)->check(CLI::Range(0.001, MaxSeconds));
}

int ParseToolArguments(CLI::App& app, int argc, char** argv)
{
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return ExitUsage;
    }
    return -1;
}

void StartSongWatch(Song* song)
{
    SongEndWatch = SongWatch{};
    SongEndWatch.lastOrderPos = -1;
    SongEndWatch.loopFrame = -1;
    song->onTick = WatchedTick;
}

void WatchedTick(Song* song)
{
    SongWatch& watch = SongEndWatch;
    int64_t tickFrame = watch.nextTickFrame;
    // A row start that takes a pending order position (or the very first) enters an order position, also
    // when it is the one just played (a pattern that repeats itself as the restart position).
    bool entering = song->tick == 0 && (song->nextOrderPos >= 0 || watch.lastOrderPos < 0);
    ModUpdateTick(song);
    if (entering && watch.loopFrame < 0) {
        int32_t pos = song->orderPos & 255;
        if (watch.visited[pos]) {
            watch.loopFrame = tickFrame;
            watch.loopOrderPos = pos;
        }
        watch.visited[pos] = true;
        watch.lastOrderPos = pos;
    }
    // The mixer runs at least one frame per tick, whatever the tempo.
    watch.nextTickFrame += song->samplesPerTick < 1 ? 1 : song->samplesPerTick;
}

int64_t MeasureSongEnd(Song* song, int32_t rate, int64_t ceilingFrames, int32_t* loopOrderPos)
{
    // Started as a render starts it, so the ticks see what play gives them; no block is ever mixed.
    if (!SndRenderStart(song, rate)) {
        return -1;
    }
    StartSongWatch(song);
    for (int64_t ticks = 0; ticks < MaxMeasuredTicks && SongEndWatch.loopFrame < 0 &&
                            SongEndWatch.nextTickFrame < ceilingFrames;
         ticks++) {
        WatchedTick(song);
    }
    SndRenderStop();
    int64_t end = SongEndWatch.loopFrame;
    if (end < 0 || end >= ceilingFrames) {
        return -1;
    }
    if (loopOrderPos != nullptr) {
        *loopOrderPos = SongEndWatch.loopOrderPos;
    }
    return end;
}

std::string FormatDuration(int64_t frames, int32_t rate)
{
    int64_t ms = rate > 0 ? frames * 1000 / rate : 0;
    char text[48];
    std::snprintf(text, sizeof text, "%lld:%02lld.%03lld", static_cast<long long>(ms / 60000),
                  static_cast<long long>(ms / 1000 % 60), static_cast<long long>(ms % 1000));
    return text;
}

std::string ProgressBar(int64_t done, int64_t total, int width)
{
    if (width < 0) {
        width = 0;
    }
    int64_t filled = total > 0 ? (done < 0 ? 0 : (done >= total ? width : done * width / total)) : 0;
    std::string bar = "[";
    for (int k = 0; k < width; k++) {
        bar += k < filled ? '#' : '.';
    }
    bar += ']';
    return bar;
}
