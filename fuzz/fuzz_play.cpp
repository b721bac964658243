// libFuzzer over the player and the mixer: the fuzz bytes are loaded as a module (through the host's
// in-memory callbacks) and, if they load, played for 2,000 ticks (at most a million output frames) through
// the mixer, rendered without a device.
// Faults that only a strange song reaches (an effect on a sample that is not there, a loop of one frame, a
// step far past the sample's end) show as an out-of-bounds access, undefined behaviour or a hang.
#include "music/music.h"
#include "sound/sound.h"
#include "tests/support/memory_song.h"

#include <cstdint>
#include <cstdlib>

constexpr int32_t TicksToPlay = 2000;
static int32_t ticksPlayed = 0;

static void CountedTick(Song* song)
{
    ModUpdateTick(song);
    ticksPlayed++;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 4 * 1024 * 1024)
        return 0;
    Song* song = LoadSongBytes(data, size);
    if (song == nullptr)
        return 0;

    // The last byte picks the output rate and the mixer path. Low rates keep 2,000 ticks quick and make the
    // steps per output frame large (the hardest case for the mixer's boundary arithmetic); the intro's own
    // rate is played for one input in sixteen. Every path is exercised: the fast one in both forms and the
    // plain reference.
    uint8_t pick = data[size - 1];
    int32_t rate = (pick & 15) == 15 ? 44100 : (pick & 15) >= 13 ? 2000 : MinOutputRate;
    static const SndKernel Kernels[4] = {SndKernel::Portable, SndKernel::Reference, SndBestKernel(), SndBestKernel()};
    SndMixKernel = Kernels[(pick >> 4) & 3];

    song->onTick = CountedTick;
    ticksPlayed = 0;
    if (!SndRenderStart(song, rate)) {
        // Only a failed allocation of the small mix block refuses; that is no finding.
        ModFreeSong(song);
        return 0;
    }
    static int16_t block[2 * 1024];
    if (BlockFrames > 1024)
        std::abort();
    int64_t frames = 0;
    int64_t sum = 0;
    // A slow tempo makes ticks long (3445 frames at 32 BPM and 44100 Hz, 862 at 1 BPM and 345 Hz): a million
    // frames bound the time one input takes.
    while (ticksPlayed < TicksToPlay && frames < 1000 * 1000) {
        frames += SndRenderBlock(block);
        sum += block[0] + block[2 * BlockFrames - 1];
    }
    volatile int64_t sink = sum;
    (void)sink;
    SndRenderStop();
    ModFreeSong(song);
    return 0;
}
