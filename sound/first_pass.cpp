// The song's first pass: how far a render or a play gets before the song comes back to an order position it
// has already played (the wrap to the restart position or a backward jump). Offline renders stop there, a
// recording fades out there and xmplay goes on to the next file; they measure it beforehand to know their
// length. The position depends only on the patterns and the tempo, never on the sound, so the measurement
// runs the song's ticks from its start without mixing a frame.
#include "sound/sound.h"
#include "sound/stream_shared.h"

#include <cstdint>

namespace {

// Ticks a measurement runs at most: 11 hours of a song at 255 BPM and speed 1, yet about a second of work
// when a song's tempo is absurd (a few frames per tick).
constexpr int64_t MaxMeasuredTicks = int64_t{1} << 22;

// Where the song stands, followed on every tick through the song's onTick (main thread, while rendering or
// measuring).
struct FirstPassWatch {
    bool visited[256];       // order positions whose rows have started
    int32_t lastOrderPos;    // order position entered last; -1 before the first row
    int64_t nextTickFrame;   // output frame at which the next tick comes
    int64_t loopFrame;       // frame at which the song came back to a played order position; -1 not yet
    int32_t loopOrderPos;    // the order position it came back to
};

FirstPassWatch watch;

// The song's tick, as the intro runs it, plus the bookkeeping of where the first pass ends.
void WatchedTick(Song* song)
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

}  // namespace

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
    // The ticks write the voices and the tracks: a streaming song or a render owns them. An open device that
    // streams nothing reads neither, and the timing values it was opened with are put back below.
    if (song == nullptr || rate < MinOutputRate || rate > MaxOutputRate || CurrentSong != nullptr ||
        SndRenderRunning()) {
        return -1;
    }
    SndSaveOutputState();
    SndSetOutputTiming(rate);
    SndWatchFirstPass(song);
    // Started as play and a render start it, so the ticks see what play gives them; the first tick comes at
    // frame 0, as the first block of a play starts with one.
    SndResetPlayback(song);
    for (int64_t ticks = 0; ticks < MaxMeasuredTicks && watch.loopFrame < 0 && watch.nextTickFrame <= maxFrames;
         ticks++) {
        WatchedTick(song);
    }
    SndRestoreOutputState();
    song->onTick = ModUpdateTick;
    return watch.loopFrame >= 0 && watch.loopFrame <= maxFrames ? watch.loopFrame : -1;
}
