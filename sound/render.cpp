// Rendering without a device: the song is started as ModPlaySong starts it and mixed block after block
// straight into the caller's buffer. The blocks are those the streaming thread would put into the ring, in
// the same order and bit for bit, because both go through the same start (SndResetPlayback) and the same
// block mixing (SndMixSongBlock); only the ring, the device and the thread are left out.
#include "sound/sound.h"
#include "sound/stream_shared.h"

#include <cstdint>
#include <cstdlib>

// The song being rendered, or null (main thread).
static Song* renderSong = nullptr;
// The allocation the render's mix block lies in, and that block itself rounded up to 16 bytes as the
// mixer expects of MixBuffer: BlockFrames float stereo frames (main thread).
static void* renderMemory = nullptr;
static float* renderBlock = nullptr;

void SndRenderStop()
{
    std::free(renderMemory);
    renderMemory = nullptr;
    renderBlock = nullptr;
    renderSong = nullptr;
}

bool SndRenderStart(Song* song, int32_t rate)
{
    SndRenderStop();
    // A streaming song owns the voices, the tracks and the timing values.
    if (song == nullptr || rate < MinOutputRate || rate > MaxOutputRate || CurrentSong != nullptr) {
        return false;
    }
    SndSetOutputTiming(rate);
    renderMemory = SndAllocZeroed(static_cast<size_t>(BlockFrames) * 8 + 16);
    if (renderMemory == nullptr) {
        return false;
    }
    uintptr_t start = (reinterpret_cast<uintptr_t>(renderMemory) + 15) & ~uintptr_t{15};
    renderBlock = reinterpret_cast<float*>(start);
    SndResetPlayback(song);
    renderSong = song;
    return true;
}

int32_t SndRenderBlock(int16_t* out)
{
    if (renderSong == nullptr || out == nullptr) {
        return 0;
    }
    SndMixSongBlock(renderSong, renderBlock, out);
    return BlockFrames;
}
