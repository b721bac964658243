// The song's first pass: how far a render gets before the song comes back to an order position it has
// already played (the wrap to the restart position or a backward jump). Offline renders stop there, or
// measure it beforehand to know their length.
#include "sound/sound.h"

#include <vector>

// Where the song stands, followed on every tick through the song's onTick (main thread, while rendering).
struct FirstPassWatch {
    bool visited[256];       // order positions whose rows have started
    int32_t lastOrderPos;    // order position entered last; -1 before the first row
    int64_t nextTickFrame;   // output frame at which the next tick comes
    int64_t loopFrame;       // frame at which the song came back to a played order position; -1 not yet
    int32_t loopOrderPos;    // the order position it came back to
};

static FirstPassWatch watch;

// The song's tick, as the intro runs it, plus the bookkeeping of where the first pass ends.
static void WatchedTick(Song* song)
{
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

void SndWatchFirstPass(Song* song)
{
    watch = FirstPassWatch{};
    watch.lastOrderPos = -1;
    watch.loopFrame = -1;
    if (song != nullptr) {
        song->onTick = WatchedTick;
    }
}

int64_t SndFirstPassFrames()
{
    return watch.loopFrame;
}

int32_t SndFirstPassOrder()
{
    return watch.loopOrderPos;
}

int64_t SndMeasureFirstPass(Song* song, int32_t rate, int64_t maxFrames)
{
    SndWatchFirstPass(song);
    if (!SndRenderStart(song, rate)) {
        return -1;
    }
    std::vector<int16_t> block(2 * static_cast<size_t>(BlockFrames));
    int64_t rendered = 0;
    while (watch.loopFrame < 0 && rendered < maxFrames) {
        rendered += SndRenderBlock(block.data());
    }
    SndRenderStop();
    song->onTick = ModUpdateTick;
    return watch.loopFrame >= 0 && watch.loopFrame <= maxFrames ? watch.loopFrame : -1;
}
